#pragma once

#include "core/PCom_SerialLine.h"

#include <QSerialPort>

class PCom_PortStatus;
struct termios;

// The line settings of a serial port and the watch over its line, for hosts
// of ours: a face of the port's link-status companion (and its child). It
// works on the port's QSerialPort, which the port itself uses only as the
// host framework's interface asks.
//
// When the line hangs up or its device goes, the host's view of the port
// does not change (it stays open until the host closes it); reading stops,
// so that a dead line does not keep the event loop busy, and the loss is
// reported through the companion.
class PCom_Com_Line : public PCom_SerialLine
{
    Q_OBJECT
public:
    // A child of the port's companion, on the port's serial port.
    PCom_Com_Line(PCom_PortStatus *status, QSerialPort &line);

    int baudRate() const override;
    bool setBaudRate(int rate, QString *reason) override;
    int dataBits() const override;
    bool setDataBits(int bits, QString *reason) override;
    QString parity() const override;
    bool setParity(const QString &parity, QString *reason) override;
    QString stopBits() const override;
    bool setStopBits(const QString &stopBits, QString *reason) override;
    QString flowControl() const override;
    bool setFlowControl(const QString &flowControl, QString *reason) override;
    bool isDataTerminalReady() const override;
    bool setDataTerminalReady(bool set, QString *reason) override;
    bool isRequestToSend() const override;
    bool setRequestToSend(bool set, QString *reason) override;
    bool isBreakEnabled() const override;
    bool setBreakEnabled(bool set, QString *reason) override;
    bool sendBreak(int milliseconds, QString *reason) override;
    bool purge(bool received, bool unsent, QString *reason) override;
    int modemLines() const override;
    qint64 lockHolder() const override;

    // Where a port name leads: a name without a '/' is a device in /dev,
    // and links are followed, so that a line has one lock whatever path
    // it is opened by.
    static QString resolvedLocation(const QString &portName);

    // The reason of the last refused setting or of the line's last error.
    QString lastErrorString() const;
    // A new open reads again.
    void lineOpened();

private:
    void onErrorOccurred(QSerialPort::SerialPortError error);
    bool lineHungUp() const;
    void stopReading();
    // Whether the line holds what was asked for (some drivers take a
    // setting without applying it).
    bool lineHolds(QSerialPort::DataBits bits, QSerialPort::Parity parity) const;
    bool readBack(termios *settings) const;
    // Notes the reason of a refusal; returns ok.
    bool noted(bool ok, const QString &what, QString *reason);
    bool refused(const QString &why, QString *reason);

    PCom_PortStatus *m_status;
    QSerialPort &m_line;
    QString m_lastError;
};
