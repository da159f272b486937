#include "serial/PCom_Com_Port.h"

#include "core/PCom_Names.h"
#include "host/Plugin_Com_Device.h"

#include <QSerialPortInfo>

#include <poll.h>
#include <sys/ioctl.h>

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

// Sets a line setting named in one of the tables above; a name that is not
// there, or a value the line refuses, leaves the reason and changes nothing.
template <class Enum>
QString setNamed(QSerialPort &port, bool (QSerialPort::*set)(Enum), const QList<QPair<QString, Enum>> &table,
                 const QString &what, const QString &name)
{
    for (const auto &entry : table) {
        if (entry.first == name) {
            return (port.*set)(entry.second) ? QString()
                                              : QStringLiteral("%1 %2 refused: %3").arg(what, name, port.errorString());
        }
    }
    return QStringLiteral("%1 \"%2\" unknown").arg(what, name);
}
}

PCom_Com_Port::PCom_Com_Port(Plugin_Com_Device *device)
    : PCom_Port(device, PCom_Names::com())
{
    connect(&m_serialPort, SIGNAL(readyRead()), this, SIGNAL(readyRead()));
    connect(&m_serialPort, &QSerialPort::bytesWritten, this, &PCom_Port::bytesWritten);
    connect(&m_serialPort, &QSerialPort::errorOccurred, this, &PCom_Com_Port::onErrorOccurred);

    QStringList rates;
    for (qint32 rate : standardBaudRates())
        rates.append(QStringLiteral("%1").arg(rate));

    declareRecords(
        {
            {QStringLiteral("interface"), TavlinProperty::FreeText, QString(), QString(), Shown::UpTo210,
             Access::Never, Check::None, {}, [] { return QVariant(QStringLiteral("COM")); }, {}},
            {QStringLiteral("device"), TavlinProperty::Choice, QString(), QStringLiteral("COM port name (COM1, ...)"),
             Shown::Always, Access::WhileClosed, Check::None, device->availablePorts(),
             [this] { return QVariant(m_serialPort.portName()); },
             [this](const QVariant &value) { m_serialPort.setPortName(value.toString()); }},
            {QStringLiteral("baudrate"), TavlinProperty::Choice, QString(), QStringLiteral("Baudrate in baud"),
             Shown::Always, Access::WhileClosed, Check::None, rates,
             [this] { return QVariant(m_serialPort.baudRate(QSerialPort::AllDirections)); },
             [this](const QVariant &value) { m_serialPort.setBaudRate(value.toInt(), QSerialPort::AllDirections); }},
        },
        QStringLiteral("Open / close the port"), Shown::Always);
}

PCom_Com_Port::~PCom_Com_Port()
{
    closePrivate();
}

QList<qint32> PCom_Com_Port::standardBaudRates()
{
    return QSerialPortInfo::standardBaudRates();
}

bool PCom_Com_Port::opened() const
{
    return m_serialPort.isOpen();
}

bool PCom_Com_Port::openPrivate(QFlags<OpenModeFlag> mode)
{
    QIODevice::OpenMode qtMode = QIODevice::NotOpen;
    if (mode == QFlags<OpenModeFlag>(Read))
        qtMode = QIODevice::ReadOnly;
    else if (mode == QFlags<OpenModeFlag>(Write))
        qtMode = QIODevice::WriteOnly;
    else if (mode == QFlags<OpenModeFlag>(ReadWrite))
        qtMode = QIODevice::ReadWrite;

    const bool result = m_serialPort.open(qtMode);
    if (result)
        clearLinkLoss();
    updatePropertiesState();
    return result;
}

void PCom_Com_Port::closePrivate()
{
    if (!m_serialPort.isOpen())
        return;
    m_serialPort.close();
    updatePropertiesState();
}

int PCom_Com_Port::writeByteStream(const char *data, int len)
{
    const qint64 written = m_serialPort.write(data, len);
    if (written != len) {
        Plugin_Com_Device::log(KrLog_Interface::Error,
                               QStringLiteral("PCom_Com_Port: %1 byte could not be send")
                                   .arg(bytesNotAccepted(len, written)));
    }
    return int(written);
}

int PCom_Com_Port::readByteStream(char *buffer, int maxLen)
{
    const qint64 count = m_serialPort.read(buffer, maxLen);
    return count == 0 ? -1 : int(count);
}

AbstractTreeItem *PCom_Com_Port::createInstance()
{
    return new PCom_Com_Port(device());
}

void PCom_Com_Port::traceSet(const QString &name, const QVariant &value)
{
    Plugin_Com_Device::log(KrLog_Interface::Trace,
                           QStringLiteral("Plugin_Com_Port(%1)::setTavlinProperty(%2, %3) ")
                               .arg(m_serialPort.portName(), name, value.toString()));
}

qint64 PCom_Com_Port::bytesToWrite() const
{
    return m_serialPort.bytesToWrite();
}

QString PCom_Com_Port::lastErrorString() const
{
    if (!m_lastError.isEmpty())
        return m_lastError;
    return m_serialPort.error() == QSerialPort::NoError ? QString() : m_serialPort.errorString();
}

void PCom_Com_Port::setReadBufferSize(qint64 size)
{
    m_serialPort.setReadBufferSize(size);
}

// A line that is gone (an adapter pulled, the other end of a
// pseudo-terminal closed) keeps signalling that it can be read, and every
// read fails; Qt names that a read error, or a resource error where the
// driver says so. Such a line is closed here, or it would keep the host busy
// for nothing.
void PCom_Com_Port::onErrorOccurred(QSerialPort::SerialPortError error)
{
    if (error == QSerialPort::NoError)
        return;
    m_lastError = m_serialPort.errorString();
    if (!m_serialPort.isOpen())
        return;
    if (error != QSerialPort::ResourceError && !(error == QSerialPort::ReadError && lineHungUp()))
        return;
    const QString reason = error == QSerialPort::ResourceError ? m_lastError : QStringLiteral("the line hung up");
    closePrivate();
    raiseDataChanged();
    reportLinkLost(LossKind::Failed, QStringLiteral("%1: %2").arg(m_serialPort.portName(), reason));
}

bool PCom_Com_Port::lineHungUp() const
{
    pollfd line{int(m_serialPort.handle()), POLLIN, 0};
    return ::poll(&line, 1, 0) == 1 && (line.revents & (POLLHUP | POLLERR | POLLNVAL));
}

bool PCom_Com_Port::taken(bool ok, const QString &what)
{
    if (!ok)
        m_lastError = QStringLiteral("%1 refused: %2").arg(what, m_serialPort.errorString());
    return ok;
}

void PCom_Com_Port::noteRefusal(const QString &reason)
{
    if (!reason.isEmpty())
        m_lastError = reason;
}

int PCom_Com_Port::dataBits() const
{
    return int(m_serialPort.dataBits());
}

void PCom_Com_Port::setDataBits(int bits)
{
    if (bits < 5 || bits > 8) {
        m_lastError = QStringLiteral("data bits %1 refused: 5 to 8 are possible").arg(bits);
        return;
    }
    taken(m_serialPort.setDataBits(QSerialPort::DataBits(bits)), QStringLiteral("data bits %1").arg(bits));
}

QString PCom_Com_Port::parity() const
{
    return nameOf(kParities, m_serialPort.parity());
}

void PCom_Com_Port::setParity(const QString &parity)
{
    noteRefusal(setNamed(m_serialPort, &QSerialPort::setParity, kParities, QStringLiteral("parity"), parity));
}

QString PCom_Com_Port::stopBits() const
{
    return nameOf(kStopBits, m_serialPort.stopBits());
}

void PCom_Com_Port::setStopBits(const QString &stopBits)
{
    // Qt takes 1.5 on a POSIX line and sets one stop bit, while reading back
    // 1.5; termios has no such setting.
    if (stopBits == QLatin1String("1.5")) {
        m_lastError = QStringLiteral("stop bits 1.5 refused: the line has 1 or 2");
        return;
    }
    noteRefusal(setNamed(m_serialPort, &QSerialPort::setStopBits, kStopBits, QStringLiteral("stop bits"), stopBits));
}

QString PCom_Com_Port::flowControl() const
{
    return nameOf(kFlowControls, m_serialPort.flowControl());
}

void PCom_Com_Port::setFlowControl(const QString &flowControl)
{
    noteRefusal(setNamed(m_serialPort, &QSerialPort::setFlowControl, kFlowControls, QStringLiteral("flow control"), flowControl));
}

// QSerialPort reads the modem lines through a non-const call.
bool PCom_Com_Port::isDataTerminalReady() const
{
    return m_serialPort.isOpen() && const_cast<QSerialPort &>(m_serialPort).isDataTerminalReady();
}

void PCom_Com_Port::setDataTerminalReady(bool set)
{
    taken(m_serialPort.isOpen() && m_serialPort.setDataTerminalReady(set), QStringLiteral("DTR"));
}

bool PCom_Com_Port::isRequestToSend() const
{
    return m_serialPort.isOpen() && const_cast<QSerialPort &>(m_serialPort).isRequestToSend();
}

void PCom_Com_Port::setRequestToSend(bool set)
{
    taken(m_serialPort.isOpen() && m_serialPort.setRequestToSend(set), QStringLiteral("RTS"));
}

bool PCom_Com_Port::sendBreak(int milliseconds)
{
    QT_WARNING_PUSH
    QT_WARNING_DISABLE_DEPRECATED
    return taken(m_serialPort.isOpen() && m_serialPort.sendBreak(milliseconds), QStringLiteral("break"));
    QT_WARNING_POP
}

int PCom_Com_Port::baudRate() const
{
    return m_serialPort.baudRate(QSerialPort::AllDirections);
}

void PCom_Com_Port::setBaudRate(int rate)
{
    if (rate <= 0) {
        m_lastError = QStringLiteral("baud rate %1 refused").arg(rate);
        return;
    }
    taken(m_serialPort.setBaudRate(rate, QSerialPort::AllDirections), QStringLiteral("baud rate %1").arg(rate));
}

bool PCom_Com_Port::isBreakEnabled() const
{
    return m_serialPort.isBreakEnabled();
}

void PCom_Com_Port::setBreakEnabled(bool set)
{
    taken(m_serialPort.isOpen() && m_serialPort.setBreakEnabled(set), QStringLiteral("break"));
}

// Read with the ioctl itself: QSerialPort would note an error on every look
// at a line without modem lines, and a server looks often.
int PCom_Com_Port::modemLines() const
{
    int bits = 0;
    if (!m_serialPort.isOpen() || ::ioctl(int(m_serialPort.handle()), TIOCMGET, &bits) != 0)
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

bool PCom_Com_Port::purge(bool received, bool unsent)
{
    QSerialPort::Directions directions;
    if (received)
        directions |= QSerialPort::Input;
    if (unsent)
        directions |= QSerialPort::Output;
    return taken(m_serialPort.isOpen() && m_serialPort.clear(directions), QStringLiteral("purge"));
}
