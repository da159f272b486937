#include "serial/PCom_Com_Line.h"

#include "core/PCom_PortStatus.h"

#include <QFileInfo>
#include <QLockFile>
#include <QSocketNotifier>
#include <QStandardPaths>

#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>

namespace {
const QList<QPair<QString, QSerialPort::Parity>> kParities = {
    {QStringLiteral("none"), QSerialPort::NoParity},     {QStringLiteral("even"), QSerialPort::EvenParity},
    {QStringLiteral("odd"), QSerialPort::OddParity},     {QStringLiteral("space"), QSerialPort::SpaceParity},
    {QStringLiteral("mark"), QSerialPort::MarkParity}};
const QList<QPair<QString, QSerialPort::StopBits>> kStopBits = {
    {QStringLiteral("1"), QSerialPort::OneStop},
    {QStringLiteral("1.5"), QSerialPort::OneAndHalfStop},
    {QStringLiteral("2"), QSerialPort::TwoStop}};
const QList<QPair<QString, QSerialPort::FlowControl>> kFlowControls = {
    {QStringLiteral("none"), QSerialPort::NoFlowControl},
    {QStringLiteral("rtscts"), QSerialPort::HardwareControl},
    {QStringLiteral("xonxoff"), QSerialPort::SoftwareControl}};

template <class Enum>
QString nameOf(const QList<QPair<QString, Enum>> &table, Enum value)
{
    for (const auto &entry : table) {
        if (entry.second == value)
            return entry.first;
    }
    return QString();
}

template <class Enum>
bool valueOf(const QList<QPair<QString, Enum>> &table, const QString &name, Enum *value)
{
    for (const auto &entry : table) {
        if (entry.first == name) {
            *value = entry.second;
            return true;
        }
    }
    return false;
}

tcflag_t paritySettings(QSerialPort::Parity parity)
{
    switch (parity) {
    case QSerialPort::EvenParity:
        return PARENB;
    case QSerialPort::OddParity:
        return PARENB | PARODD;
    case QSerialPort::SpaceParity:
        return PARENB | CMSPAR;
    case QSerialPort::MarkParity:
        return PARENB | CMSPAR | PARODD;
    default:
        return 0;
    }
}

tcflag_t sizeSetting(QSerialPort::DataBits bits)
{
    switch (bits) {
    case QSerialPort::Data5:
        return CS5;
    case QSerialPort::Data6:
        return CS6;
    case QSerialPort::Data7:
        return CS7;
    default:
        return CS8;
    }
}
}

PCom_Com_Line::PCom_Com_Line(PCom_PortStatus *status, QSerialPort &line)
    : PCom_SerialLine(status), m_status(status), m_line(line)
{
    connect(&m_line, &QSerialPort::errorOccurred, this, &PCom_Com_Line::onErrorOccurred);
}

QString PCom_Com_Line::lastErrorString() const
{
    if (!m_lastError.isEmpty())
        return m_lastError;
    return m_line.error() == QSerialPort::NoError ? QString() : m_line.errorString();
}

void PCom_Com_Line::lineOpened()
{
    m_lastError.clear();
}

// A line that is gone (an adapter pulled, the other end of a pseudo-terminal
// closed) keeps signalling that it can be read, and every read fails; Qt
// names that a read error, or a resource error where the driver says so.
void PCom_Com_Line::onErrorOccurred(QSerialPort::SerialPortError error)
{
    if (error == QSerialPort::NoError)
        return;
    m_lastError = m_line.errorString();
    if (!m_line.isOpen())
        return;
    if (error != QSerialPort::ResourceError && !(error == QSerialPort::ReadError && lineHungUp()))
        return;
    const QString reason = error == QSerialPort::ResourceError ? m_lastError : QStringLiteral("the line hung up");
    stopReading();
    m_status->reportLoss(PCom_LinkStatus::LossKind::Failed, QStringLiteral("%1: %2").arg(m_line.portName(), reason));
}

bool PCom_Com_Line::lineHungUp() const
{
    pollfd line{int(m_line.handle()), POLLIN, 0};
    return ::poll(&line, 1, 0) == 1 && (line.revents & (POLLHUP | POLLERR | POLLNVAL));
}

// QSerialPort has no call to stop reading short of closing, which the host
// must do itself; its read notifier is its child.
void PCom_Com_Line::stopReading()
{
    for (QSocketNotifier *notifier : m_line.findChildren<QSocketNotifier *>()) {
        if (notifier->type() == QSocketNotifier::Read)
            notifier->setEnabled(false);
    }
}

bool PCom_Com_Line::lineHolds(QSerialPort::DataBits bits, QSerialPort::Parity parity) const
{
    termios settings{};
    if (!readBack(&settings))
        return true;
    return (settings.c_cflag & CSIZE) == sizeSetting(bits)
           && (settings.c_cflag & (PARENB | PARODD | CMSPAR)) == paritySettings(parity);
}

// What the driver holds, not what Qt was last asked: a setting is in force
// once it reads back. False while the line is closed.
bool PCom_Com_Line::readBack(termios *settings) const
{
    return m_line.isOpen() && ::tcgetattr(int(m_line.handle()), settings) == 0;
}

bool PCom_Com_Line::noted(bool ok, const QString &what, QString *reason)
{
    return ok || refused(QStringLiteral("%1 refused: %2").arg(what, m_line.errorString()), reason);
}

bool PCom_Com_Line::refused(const QString &why, QString *reason)
{
    m_lastError = why;
    if (reason)
        *reason = why;
    return false;
}

int PCom_Com_Line::baudRate() const
{
    return m_line.baudRate(QSerialPort::AllDirections);
}

bool PCom_Com_Line::setBaudRate(int rate, QString *reason)
{
    if (rate <= 0)
        return refused(QStringLiteral("baud rate %1 refused").arg(rate), reason);
    return noted(m_line.setBaudRate(rate, QSerialPort::AllDirections), QStringLiteral("baud rate %1").arg(rate),
                 reason);
}

int PCom_Com_Line::dataBits() const
{
    termios settings{};
    if (!readBack(&settings))
        return int(m_line.dataBits());
    for (int bits = 5; bits < 8; ++bits) {
        if ((settings.c_cflag & CSIZE) == sizeSetting(QSerialPort::DataBits(bits)))
            return bits;
    }
    return 8;
}

bool PCom_Com_Line::setDataBits(int bits, QString *reason)
{
    const QString what = QStringLiteral("data bits %1").arg(bits);
    if (bits < 5 || bits > 8)
        return refused(QStringLiteral("%1 refused: 5 to 8 are possible").arg(what), reason);
    const QSerialPort::DataBits old = m_line.dataBits();
    if (!noted(m_line.setDataBits(QSerialPort::DataBits(bits)), what, reason))
        return false;
    if (lineHolds(QSerialPort::DataBits(bits), m_line.parity()))
        return true;
    m_line.setDataBits(old);
    return refused(QStringLiteral("%1 refused: the line does not take it").arg(what), reason);
}

QString PCom_Com_Line::parity() const
{
    termios settings{};
    if (!readBack(&settings))
        return nameOf(kParities, m_line.parity());
    for (const auto &entry : kParities) {
        if ((settings.c_cflag & (PARENB | PARODD | CMSPAR)) == paritySettings(entry.second))
            return entry.first;
    }
    return QStringLiteral("none");
}

bool PCom_Com_Line::setParity(const QString &name, QString *reason)
{
    QSerialPort::Parity parity;
    if (!valueOf(kParities, name, &parity))
        return refused(QStringLiteral("parity \"%1\" unknown").arg(name), reason);
    const QSerialPort::Parity old = m_line.parity();
    if (!noted(m_line.setParity(parity), QStringLiteral("parity %1").arg(name), reason))
        return false;
    if (lineHolds(m_line.dataBits(), parity))
        return true;
    m_line.setParity(old);
    return refused(QStringLiteral("parity %1 refused: the line does not take it").arg(name), reason);
}

QString PCom_Com_Line::stopBits() const
{
    termios settings{};
    if (!readBack(&settings))
        return nameOf(kStopBits, m_line.stopBits());
    return (settings.c_cflag & CSTOPB) ? QStringLiteral("2") : QStringLiteral("1");
}

bool PCom_Com_Line::setStopBits(const QString &name, QString *reason)
{
    QSerialPort::StopBits stopBits;
    if (!valueOf(kStopBits, name, &stopBits))
        return refused(QStringLiteral("stop bits \"%1\" unknown").arg(name), reason);
    // Qt takes 1.5 on a POSIX line and sets one stop bit, while reading back
    // 1.5; termios has no such setting.
    if (stopBits == QSerialPort::OneAndHalfStop)
        return refused(QStringLiteral("stop bits 1.5 refused: the line has 1 or 2"), reason);
    const QSerialPort::StopBits old = m_line.stopBits();
    if (!noted(m_line.setStopBits(stopBits), QStringLiteral("stop bits %1").arg(name), reason))
        return false;
    if (stopBits == QSerialPort::OneStop || !m_line.isOpen() || this->stopBits() == name)
        return true;
    m_line.setStopBits(old);
    return refused(QStringLiteral("stop bits %1 refused: the line does not take it").arg(name), reason);
}

QString PCom_Com_Line::flowControl() const
{
    termios settings{};
    if (!readBack(&settings))
        return nameOf(kFlowControls, m_line.flowControl());
    if (settings.c_cflag & CRTSCTS)
        return QStringLiteral("rtscts");
    return (settings.c_iflag & (IXON | IXOFF)) ? QStringLiteral("xonxoff") : QStringLiteral("none");
}

bool PCom_Com_Line::setFlowControl(const QString &name, QString *reason)
{
    QSerialPort::FlowControl flowControl;
    if (!valueOf(kFlowControls, name, &flowControl))
        return refused(QStringLiteral("flow control \"%1\" unknown").arg(name), reason);
    const QSerialPort::FlowControl old = m_line.flowControl();
    if (!noted(m_line.setFlowControl(flowControl), QStringLiteral("flow control %1").arg(name), reason))
        return false;
    if (!m_line.isOpen() || this->flowControl() == name)
        return true;
    m_line.setFlowControl(old);
    return refused(QStringLiteral("flow control %1 refused: the line does not take it").arg(name), reason);
}

// QSerialPort reads the modem lines through a non-const call.
bool PCom_Com_Line::isDataTerminalReady() const
{
    return m_line.isOpen() && m_line.isDataTerminalReady();
}

bool PCom_Com_Line::setDataTerminalReady(bool set, QString *reason)
{
    return noted(m_line.isOpen() && m_line.setDataTerminalReady(set), QStringLiteral("DTR"), reason);
}

bool PCom_Com_Line::isRequestToSend() const
{
    return m_line.isOpen() && m_line.isRequestToSend();
}

bool PCom_Com_Line::setRequestToSend(bool set, QString *reason)
{
    return noted(m_line.isOpen() && m_line.setRequestToSend(set), QStringLiteral("RTS"), reason);
}

bool PCom_Com_Line::isBreakEnabled() const
{
    return m_line.isBreakEnabled();
}

bool PCom_Com_Line::setBreakEnabled(bool set, QString *reason)
{
    return noted(m_line.isOpen() && m_line.setBreakEnabled(set), QStringLiteral("break"), reason);
}

bool PCom_Com_Line::sendBreak(int milliseconds, QString *reason)
{
    QT_WARNING_PUSH
    QT_WARNING_DISABLE_DEPRECATED
    return noted(m_line.isOpen() && m_line.sendBreak(milliseconds), QStringLiteral("break"), reason);
    QT_WARNING_POP
}

bool PCom_Com_Line::purge(bool received, bool unsent, QString *reason)
{
    QSerialPort::Directions directions;
    if (received)
        directions |= QSerialPort::Input;
    if (unsent)
        directions |= QSerialPort::Output;
    return noted(m_line.isOpen() && m_line.clear(directions), QStringLiteral("purge"), reason);
}

QString PCom_Com_Line::resolvedLocation(const QString &portName)
{
    const QString location = portName.contains(QLatin1Char('/')) ? portName : QStringLiteral("/dev/") + portName;
    const QString resolved = QFileInfo(location).canonicalFilePath();
    return resolved.isEmpty() ? location : resolved;
}

// Where QSerialPort keeps its lock files: "LCK.." and the device's path
// below /dev with '/' as '_', in the first of these folders that it can use.
qint64 PCom_Com_Line::lockHolder() const
{
    QString name = resolvedLocation(m_line.portName());
    if (name.startsWith(QLatin1String("/dev/")))
        name = name.mid(5);
    name.replace(QLatin1Char('/'), QLatin1Char('_'));
    const QStringList folders{QStringLiteral("/var/lock"), QStringLiteral("/etc/locks"),
                              QStringLiteral("/var/spool/locks"), QStringLiteral("/var/spool/uucp"),
                              QStringLiteral("/tmp"), QStringLiteral("/var/tmp"), QStringLiteral("/var/lock/lockdev"),
                              QStringLiteral("/run/lock"), QStandardPaths::writableLocation(QStandardPaths::TempLocation)};
    for (const QString &folder : folders) {
        const QString path = folder + QStringLiteral("/LCK..") + name;
        qint64 pid = 0;
        if (QFileInfo::exists(path) && QLockFile(path).getLockInfo(&pid, nullptr, nullptr))
            return pid;
    }
    return 0;
}

// Read with the ioctl itself: QSerialPort would note an error on every look
// at a line without modem lines, and a server looks often.
int PCom_Com_Line::modemLines() const
{
    int bits = 0;
    if (!m_line.isOpen() || ::ioctl(int(m_line.handle()), TIOCMGET, &bits) != 0)
        return -1;
    const QList<QPair<int, QSerialPort::PinoutSignal>> lines = {
        {TIOCM_DTR, QSerialPort::DataTerminalReadySignal}, {TIOCM_RTS, QSerialPort::RequestToSendSignal},
        {TIOCM_CTS, QSerialPort::ClearToSendSignal},       {TIOCM_DSR, QSerialPort::DataSetReadySignal},
        {TIOCM_CD, QSerialPort::DataCarrierDetectSignal},  {TIOCM_RI, QSerialPort::RingIndicatorSignal}};
    int levels = 0;
    for (const auto &line : lines) {
        if (bits & line.first)
            levels |= line.second;
    }
    return levels;
}
