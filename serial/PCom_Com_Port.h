#pragma once

#include "core/PCom_Port.h"

#include <QList>
#include <QSerialPort>

// One serial line, opened at the baud rate last written. The host framework
// sees only "device" and "baudrate"; hosts that know this class reach the
// other line settings through its Qt properties (applied at once while open,
// otherwise at the next open), sendBreak() and purge(). A setting that the
// line refuses keeps the value in force and leaves the reason in
// lastErrorString(). baudRate changes the speed of an open line too (a
// serial server follows its client), where the "baudrate" record is locked.
class PCom_Com_Port : public PCom_Port
{
    Q_OBJECT
    // 5 to 8.
    Q_PROPERTY(int dataBits READ dataBits WRITE setDataBits)
    // "none", "even", "odd", "space" or "mark".
    Q_PROPERTY(QString parity READ parity WRITE setParity)
    // "1", "1.5" or "2".
    Q_PROPERTY(QString stopBits READ stopBits WRITE setStopBits)
    // "none", "rtscts" or "xonxoff".
    Q_PROPERTY(QString flowControl READ flowControl WRITE setFlowControl)
    Q_PROPERTY(bool dataTerminalReady READ isDataTerminalReady WRITE setDataTerminalReady)
    Q_PROPERTY(bool requestToSend READ isRequestToSend WRITE setRequestToSend)
    Q_PROPERTY(int baudRate READ baudRate WRITE setBaudRate)
    // The transmit line held in the break state.
    Q_PROPERTY(bool breakEnabled READ isBreakEnabled WRITE setBreakEnabled)
    // The modem lines' levels as QSerialPort::PinoutSignals, or -1 where the
    // line has none to read (a pseudo-terminal) or is not open.
    Q_PROPERTY(int modemLines READ modemLines)
public:
    explicit PCom_Com_Port(Plugin_Com_Device *device);
    ~PCom_Com_Port() override;

    bool opened() const override;
    bool openPrivate(QFlags<OpenModeFlag> mode) override;
    void closePrivate() override;

    int writeByteStream(const char *data, int len) override;
    int readByteStream(char *buffer, int maxLen) override;

    AbstractTreeItem *createInstance() override;

    qint64 bytesToWrite() const override;
    QString lastErrorString() const override;
    void setReadBufferSize(qint64 size) override;

    int dataBits() const;
    void setDataBits(int bits);
    QString parity() const;
    void setParity(const QString &parity);
    QString stopBits() const;
    void setStopBits(const QString &stopBits);
    QString flowControl() const;
    void setFlowControl(const QString &flowControl);
    bool isDataTerminalReady() const;
    void setDataTerminalReady(bool set);
    bool isRequestToSend() const;
    void setRequestToSend(bool set);
    Q_INVOKABLE bool sendBreak(int milliseconds);
    int baudRate() const;
    void setBaudRate(int rate);
    bool isBreakEnabled() const;
    void setBreakEnabled(bool set);
    int modemLines() const;
    // Drops what was received and not yet read, and what waits to be sent,
    // here and in the driver.
    Q_INVOKABLE bool purge(bool received, bool unsent);

    static QList<qint32> standardBaudRates();

protected:
    void traceSet(const QString &name, const QVariant &value) override;

private slots:
    void onErrorOccurred(QSerialPort::SerialPortError error);

private:
    bool lineHungUp() const;
    // Notes a refused setting; true when it was taken.
    bool taken(bool ok, const QString &what);
    void noteRefusal(const QString &reason);

    QSerialPort m_serialPort;
    QString m_lastError;
};
