#pragma once

#include <QObject>
#include <QString>

// The line settings of a serial port beyond its "device" and "baudrate"
// records, a face of the port's PCom_LinkStatus. Settings apply at once
// while the line is open and otherwise at the next open. A setter that the
// line refuses keeps the value in force, returns false and leaves the reason
// in *reason; a setting counts as taken only when the line reads it back.
// setBaudRate() changes the speed of an open line too (a serial server
// follows its client), where the "baudrate" record is locked.
class PCom_SerialLine : public QObject
{
    Q_OBJECT
public:
    virtual int baudRate() const = 0;
    virtual bool setBaudRate(int rate, QString *reason = nullptr) = 0;
    // 5 to 8.
    virtual int dataBits() const = 0;
    virtual bool setDataBits(int bits, QString *reason = nullptr) = 0;
    // "none", "even", "odd", "space" or "mark".
    virtual QString parity() const = 0;
    virtual bool setParity(const QString &parity, QString *reason = nullptr) = 0;
    // "1", "1.5" or "2".
    virtual QString stopBits() const = 0;
    virtual bool setStopBits(const QString &stopBits, QString *reason = nullptr) = 0;
    // "none", "rtscts" or "xonxoff".
    virtual QString flowControl() const = 0;
    virtual bool setFlowControl(const QString &flowControl, QString *reason = nullptr) = 0;
    virtual bool isDataTerminalReady() const = 0;
    virtual bool setDataTerminalReady(bool set, QString *reason = nullptr) = 0;
    virtual bool isRequestToSend() const = 0;
    virtual bool setRequestToSend(bool set, QString *reason = nullptr) = 0;
    // The transmit line held in the break state.
    virtual bool isBreakEnabled() const = 0;
    virtual bool setBreakEnabled(bool set, QString *reason = nullptr) = 0;
    virtual bool sendBreak(int milliseconds, QString *reason = nullptr) = 0;
    // Drops what was received and not yet read, and what waits to be sent,
    // here and in the driver.
    virtual bool purge(bool received, bool unsent, QString *reason = nullptr) = 0;
    // The modem lines' levels as QSerialPort::PinoutSignals, or -1 where the
    // line has none to read (a pseudo-terminal) or is not open.
    virtual int modemLines() const = 0;
    // The process that holds the line's lock file (whose open then failed
    // with a locking error), or 0 where none does.
    virtual qint64 lockHolder() const = 0;

protected:
    explicit PCom_SerialLine(QObject *parent = nullptr) : QObject(parent) {}
};
