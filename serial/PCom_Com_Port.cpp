#include "serial/PCom_Com_Port.h"

#include "host/Plugin_Com_Device.h"

#include <QSerialPortInfo>

PCom_Com_Port::PCom_Com_Port(Plugin_Com_Device *device)
    : PCom_Port(device, QStringLiteral("com"))
{
    keepFixed(QStringLiteral("interface"));
    connect(&m_serialPort, SIGNAL(readyRead()), this, SIGNAL(readyRead()));

    TavlinProperty *plugin = declareProperty(QStringLiteral("plugin"), TavlinProperty::FreeText, QString());
    plugin->description = QStringLiteral("Plugin name");
    plugin->setSupportedVersion(Version(QStringLiteral("2.12")), Version(-1, 0, 0));
    plugin->setWritable(false);

    TavlinProperty *interface = declareProperty(QStringLiteral("interface"), TavlinProperty::FreeText, QString());
    interface->setSupportedVersion(Version(-1, 0, 0), Version(QStringLiteral("2.10")));
    interface->setWritable(false);

    TavlinProperty *devName = declareProperty(QStringLiteral("device"), TavlinProperty::Choice, QString());
    devName->description = QStringLiteral("COM port name (COM1, ...)");
    devName->setOptions(device->availablePorts());

    TavlinProperty *baud = declareProperty(QStringLiteral("baudrate"), TavlinProperty::Choice, QString());
    baud->description = QStringLiteral("Baudrate in baud");
    QStringList rates;
    for (qint32 rate : standardBaudRates())
        rates.append(QStringLiteral("%1").arg(rate));
    baud->setOptions(rates);

    TavlinProperty *connectProp = declareProperty(QStringLiteral("connect"), TavlinProperty::Boolean,
                                                  QStringLiteral("false"));
    connectProp->description = QStringLiteral("Open / close the port");
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

QVariant PCom_Com_Port::getTavlinProperty(QString name) const
{
    if (name == QLatin1String("plugin"))
        return pluginText();
    if (name == QLatin1String("interface"))
        return QStringLiteral("COM");
    if (name == QLatin1String("device"))
        return m_serialPort.portName();
    if (name == QLatin1String("baudrate"))
        return m_serialPort.baudRate(QSerialPort::AllDirections);
    if (name == QLatin1String("connect"))
        return opened();
    return QVariant();
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

void PCom_Com_Port::applyProperty(const QString &name, const QVariant &value)
{
    if (name == QLatin1String("device"))
        m_serialPort.setPortName(value.toString());
    else if (name == QLatin1String("baudrate"))
        m_serialPort.setBaudRate(value.toInt(), QSerialPort::AllDirections);
}
