#include "canbus/PCom_CanBus_Port.h"

#include "canbus/PCom_CanBus_Device.h"
#include "core/PCom_Release.h"

#include <QCanBus>
#include <QCanBusFrame>

#include <cstring>

PCom_CanBus_Port::PCom_CanBus_Port(PCom_CanBus_Device *device)
    : PCom_Port(device, QStringLiteral("canBus")), m_device(device)
{
    m_frameLength = 8;

    TavlinProperty *plugin = declareProperty(QStringLiteral("plugin"), TavlinProperty::FreeText, QString());
    plugin->description = QStringLiteral("Plugin name");
    plugin->setSupportedVersion(Version(QStringLiteral("2.12")), Version(-1, 0, 0));
    plugin->setWritable(false);

    TavlinProperty *interface = declareProperty(QStringLiteral("interface"), TavlinProperty::Choice, QString());
    interface->setOptions(QCanBus::instance()->plugins());
    interface->setSupportedVersion(Version(QStringLiteral("2.20")), Version(-1, 0, 0));

    TavlinProperty *devName = declareProperty(QStringLiteral("device"), TavlinProperty::Choice, QString());
    devName->description = QStringLiteral("Device name");
    devName->setOptions(device->availablePorts());

    TavlinProperty *baud = declareProperty(QStringLiteral("baudrate"), TavlinProperty::Choice, QString());
    baud->description = QStringLiteral("Baudrate in baud");
    baud->setOptions(standardBaudRates());

    TavlinProperty *connectProp = declareProperty(QStringLiteral("connect"), TavlinProperty::Boolean,
                                                  QStringLiteral("false"));
    connectProp->description = QStringLiteral("Open / close the port");
}

PCom_CanBus_Port::~PCom_CanBus_Port()
{
    closePrivate();
}

QStringList PCom_CanBus_Port::standardBaudRates()
{
    static const int rates[] = {5000,   10000,  20000,  33000,  47000,  50000,  83000,
                                95000,  100000, 125000, 250000, 500000, 800000, 1000000};
    QStringList texts;
    for (int rate : rates)
        texts.append(QStringLiteral("%1").arg(rate));
    return texts;
}

bool PCom_CanBus_Port::usesFrameIds() const
{
    return true;
}

bool PCom_CanBus_Port::opened() const
{
    return m_canDevice != nullptr;
}

bool PCom_CanBus_Port::openPrivate(QFlags<OpenModeFlag>)
{
    // Opening an open port is refused: the CAN device in use stays connected
    // and untouched, as a serial line refuses a second open.
    if (m_canDevice)
        return false;

    QString errorString;
    m_canDevice = QCanBus::instance()->createDevice(m_device->canPlugin(), m_deviceName, &errorString);
    if (!m_canDevice) {
        Plugin_Com_Device::log(KrLog_Interface::Error,
                               QStringLiteral("Error creating device '%1': '%2'").arg(m_deviceName, errorString));
        return false;
    }

    connect(m_canDevice, SIGNAL(errorOccurred(QCanBusDevice::CanBusError)), this,
            SLOT(onError(QCanBusDevice::CanBusError)));
    connect(m_canDevice, &QCanBusDevice::framesReceived, this, [this] { ++m_announcing; });
    connect(m_canDevice, SIGNAL(framesReceived()), this, SIGNAL(readyRead()));
    connect(m_canDevice, &QCanBusDevice::framesReceived, this, [this] { --m_announcing; });
    connect(m_canDevice, SIGNAL(framesWritten(qint64)), this, SLOT(onFrameWritten(qint64)));

    // The rate goes to the back-end as text, unchecked; the back-end judges it.
    m_canDevice->setConfigurationParameter(QCanBusDevice::BitRateKey, QVariant(m_baudRate));

    if (!m_canDevice->connectDevice()) {
        Plugin_Com_Device::log(KrLog_Interface::Error,
                               QStringLiteral("Connection error: %1").arg(m_canDevice->errorString()));
        delete m_canDevice;
        m_canDevice = nullptr;
        updatePropertiesState();
        return false;
    }

    const QVariant bitRate = m_canDevice->configurationParameter(QCanBusDevice::BitRateKey);
    if (bitRate.isValid()) {
        Plugin_Com_Device::log(KrLog_Interface::Progress,
                               QStringLiteral("Plugin: %1, connected to %2 at %3 baud")
                                   .arg(m_device->canPlugin(), m_deviceName, QString::number(bitRate.toInt())));
    } else {
        Plugin_Com_Device::log(KrLog_Interface::Progress, QStringLiteral("Plugin: %1, connected to %2")
                                                              .arg(m_device->canPlugin(), m_deviceName));
    }
    updatePropertiesState();
    return true;
}

// The device goes at once, unless the host closes from its readyRead()
// handler: the device is still emitting then, and goes when the loop is back.
void PCom_CanBus_Port::closePrivate()
{
    if (!m_canDevice)
        return;
    m_canDevice->disconnectDevice();
    if (m_announcing > 0) {
        m_announcing = 0;
        pcomRelease(m_canDevice);
    } else {
        delete m_canDevice;
        m_canDevice = nullptr;
    }
    updatePropertiesState();
}

bool PCom_CanBus_Port::canSend() const
{
    return m_canDevice && m_canDevice->error() == QCanBusDevice::NoError;
}

bool PCom_CanBus_Port::sendFrame(const char *data, int len, unsigned int frameId)
{
    QCanBusFrame frame(frameId, QByteArray(data, len));
    frame.setFrameType(QCanBusFrame::DataFrame);
    frame.setExtendedFrameFormat(false);
    return m_canDevice->writeFrame(frame);
}

// A negative length is no frame at all and fails like a closed port.
int PCom_CanBus_Port::writeRawData(const char *data, int len, unsigned int frameId)
{
    if (len < 0 || !canSend())
        return -1;
    return sendFrame(data, len, frameId) ? len : -1;
}

int PCom_CanBus_Port::writeByteStream(const char *data, int len, unsigned int frameId)
{
    if (len >= 0 && canSend()) {
        sendFrame(data, len, frameId);
        return len;
    }
    Plugin_Com_Device::log(KrLog_Interface::Error, QStringLiteral("PCom_CanBus_Port: %1 byte could not be send").arg(len));
    return -1;
}

int PCom_CanBus_Port::readRawData(char *buffer, int maxLen, unsigned int *frameId)
{
    if (!m_canDevice || m_canDevice->framesAvailable() == 0)
        return -1;

    const QCanBusFrame frame = m_canDevice->readFrame();
    if (frame.frameType() == QCanBusFrame::ErrorFrame) {
        Plugin_Com_Device::log(KrLog_Interface::Error,
                               QStringLiteral("PCom_CanBus_Port: %1").arg(m_canDevice->interpretErrorFrame(frame)));
        if (frameId)
            *frameId = 0xFFFFFFFFu;
        return -1;
    }

    const QByteArray payload = frame.payload();
    const int count = qMin(payload.size(), qMax(maxLen, 0));
    if (count > 0)
        std::memcpy(buffer, payload.constData(), size_t(count));
    if (frameId)
        *frameId = frame.frameId();
    return count;
}

int PCom_CanBus_Port::readByteStream(char *buffer, int maxLen, unsigned int *frameId)
{
    return readRawData(buffer, maxLen, frameId);
}

int PCom_CanBus_Port::writeRawData(const char *, int)
{
    return 0;
}

int PCom_CanBus_Port::writeByteStream(const char *, int)
{
    return 0;
}

int PCom_CanBus_Port::readRawData(char *, int)
{
    return 0;
}

int PCom_CanBus_Port::readByteStream(char *, int)
{
    return 0;
}

QVariant PCom_CanBus_Port::getTavlinProperty(QString name) const
{
    if (name == QLatin1String("plugin"))
        return pluginText();
    if (name == QLatin1String("interface"))
        return m_device->canPlugin();
    if (name == QLatin1String("device"))
        return m_deviceName;
    if (name == QLatin1String("baudrate"))
        return m_baudRate;
    if (name == QLatin1String("connect"))
        return opened();
    return QVariant();
}

AbstractTreeItem *PCom_CanBus_Port::createInstance()
{
    return new PCom_CanBus_Port(m_device);
}

void PCom_CanBus_Port::traceSet(const QString &name, const QVariant &value)
{
    Plugin_Com_Device::log(KrLog_Interface::Trace, QStringLiteral("Plugin_Com_Port(%1)::setTavlinProperty(%2, %3) ")
                                                       .arg(m_deviceName, name, value.toString()));
}

void PCom_CanBus_Port::applyProperty(const QString &name, const QVariant &value)
{
    if (name == QLatin1String("interface")) {
        m_device->setCanPlugin(value.toString());
        // Only this port learns the new back-end's interfaces; the others
        // keep their lists until "interface" is set through them.
        tavlinProperty(QStringLiteral("device"))->setOptions(m_device->availablePorts());
    } else if (name == QLatin1String("device")) {
        m_deviceName = value.toString();
    } else if (name == QLatin1String("baudrate")) {
        m_baudRate = value.toString();
    }
}

void PCom_CanBus_Port::onError(QCanBusDevice::CanBusError error)
{
    if (error < QCanBusDevice::ReadError || error > QCanBusDevice::TimeoutError || !m_canDevice)
        return;
    Plugin_Com_Device::log(KrLog_Interface::Error, QStringLiteral("PCom_CanBus_Port: %1").arg(m_canDevice->errorString()));
}

void PCom_CanBus_Port::onFrameWritten(qint64)
{
}
