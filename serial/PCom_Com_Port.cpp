#include "serial/PCom_Com_Port.h"

#include "core/PCom_Names.h"
#include "host/Plugin_Com_Device.h"
#include "serial/PCom_Com_Line.h"

#include <QSerialPortInfo>

PCom_Com_Port::PCom_Com_Port(Plugin_Com_Device *device)
    : PCom_Port(device, PCom_Names::com())
{
    connect(&m_serialPort, SIGNAL(readyRead()), this, SIGNAL(readyRead()));
    m_line = new PCom_Com_Line(portStatus(), m_serialPort);
    connect(&m_serialPort, &QSerialPort::bytesWritten, linkStatus(), &PCom_LinkStatus::bytesWritten);

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

    // Opened, and so locked, by the path it leads to; the port keeps the
    // name it was given.
    const QString given = m_serialPort.portName();
    if (!given.isEmpty())
        m_serialPort.setPortName(PCom_Com_Line::resolvedLocation(given));
    const bool result = m_serialPort.open(qtMode);
    m_serialPort.setPortName(given);
    if (result) {
        clearLinkLoss();
        m_line->lineOpened();
    }
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
    return m_line->lastErrorString();
}

void PCom_Com_Port::setReadBufferSize(qint64 size)
{
    m_serialPort.setReadBufferSize(size);
}
