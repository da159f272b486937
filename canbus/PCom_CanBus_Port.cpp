#include "canbus/PCom_CanBus_Port.h"

#include "canbus/PCom_CanBus_Device.h"
#include "canbus/PCom_CanBus_Frames.h"
#include "core/PCom_Names.h"
#include "core/PCom_Release.h"

#include <QCanBus>
#include <QCanBusFrame>
#include <QScopedValueRollback>
#include <QTimer>

#include <cstring>

PCom_CanBus_Port::PCom_CanBus_Port(PCom_CanBus_Device *device)
    : PCom_Port(device, PCom_Names::canBus()),
      m_device(device),
      m_frames(new PCom_CanBus_Frames(portStatus(), m_canDevice, m_lastError))
{
    m_frameLength = 8;
    declareRecords(
        {
            {QStringLiteral("interface"), TavlinProperty::Choice, QString(), QString(), Shown::From220,
             Access::WhileClosed, Check::None, QCanBus::instance()->plugins(),
             [this] { return QVariant(m_device->canPlugin()); },
             [this](const QVariant &value) {
                 m_device->setCanPlugin(value.toString());
                 // Only this port learns the new back-end's interfaces; the
                 // others keep their lists until "interface" is set through them.
                 tavlinProperty(QStringLiteral("device"))->setOptions(m_device->availablePorts());
             }},
            {QStringLiteral("device"), TavlinProperty::Choice, QString(), QStringLiteral("Device name"),
             Shown::Always, Access::WhileClosed, Check::None, device->availablePorts(),
             [this] { return QVariant(m_deviceName); },
             [this](const QVariant &value) { m_deviceName = value.toString(); }},
            {QStringLiteral("baudrate"), TavlinProperty::Choice, QString(), QStringLiteral("Baudrate in baud"),
             Shown::Always, Access::WhileClosed, Check::None, standardBaudRates(),
             [this] { return QVariant(m_baudRate); },
             [this](const QVariant &value) { m_baudRate = value.toString(); }},
        },
        QStringLiteral("Open / close the port"), Shown::Always);
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
        m_lastError = errorString;
        Plugin_Com_Device::log(KrLog_Interface::Error,
                               QStringLiteral("Error creating device '%1': '%2'").arg(m_deviceName, errorString));
        return false;
    }

    connect(m_canDevice, SIGNAL(errorOccurred(QCanBusDevice::CanBusError)), this,
            SLOT(onError(QCanBusDevice::CanBusError)));
    connect(m_canDevice, &QCanBusDevice::framesReceived, this, [this] { ++m_inDeviceSignal; });
    connect(m_canDevice, SIGNAL(framesReceived()), this, SIGNAL(readyRead()));
    connect(m_canDevice, &QCanBusDevice::framesReceived, this, [this] { --m_inDeviceSignal; });
    connect(m_canDevice, SIGNAL(framesWritten(qint64)), this, SLOT(onFrameWritten(qint64)));
    connect(m_canDevice, &QCanBusDevice::stateChanged, this,
            [this](QCanBusDevice::CanBusDeviceState state) { onStateChanged(state); });

    // The rate goes to the back-end as text, unchecked; the back-end judges it.
    m_canDevice->setConfigurationParameter(QCanBusDevice::BitRateKey, QVariant(m_baudRate));
    if (m_frames->isFlexibleDataRate())
        m_canDevice->setConfigurationParameter(QCanBusDevice::CanFdKey, true);

    if (!m_canDevice->connectDevice()) {
        m_lastError = m_canDevice->errorString();
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
    clearLinkLoss();
    m_lastError.clear();
    updatePropertiesState();
    return true;
}

// A device goes at once when it holds nothing more to send and has left
// the bus. One that still sends (frames in its queue, or in a socket under
// it, as virtualcan's) is kept, without a link to the port, until it is
// done or leaveMs passed. So is one that the host closes from a handler
// that one of its signals set off (readyRead(), bytesWritten(), linkLost()):
// deleting it there crashes inside Qt.
void PCom_CanBus_Port::closePrivate()
{
    if (!m_canDevice)
        return;
    QCanBusDevice *device = m_canDevice;
    m_canDevice = nullptr;
    // What the device reports while it goes is no loss of the link.
    disconnect(device, nullptr, this, nullptr);
    const bool inSignal = m_inDeviceSignal > 0;
    m_inDeviceSignal = 0;
    if (device->state() != QCanBusDevice::UnconnectedState && device->framesToWrite() == 0)
        device->disconnectDevice();
    if (!inSignal && device->state() == QCanBusDevice::UnconnectedState)
        delete device;
    else
        letLeave(device);
    updatePropertiesState();
}

void PCom_CanBus_Port::letLeave(QCanBusDevice *device)
{
    // One that an earlier close left goes on leaving by itself.
    if (m_leaving)
        disconnect(m_leaving, &QObject::destroyed, this, nullptr);
    m_leaving = device;
    // A host that deletes the port without waiting for it to read closed
    // ends every device still leaving with it, rather than leaving them to
    // an event loop that may not turn again.
    device->setParent(this);
    if (device->state() == QCanBusDevice::UnconnectedState) {
        device->deleteLater();
    } else {
        connect(device, &QCanBusDevice::framesWritten, device, [device] {
            if (device->framesToWrite() == 0 && device->state() == QCanBusDevice::ConnectedState)
                device->disconnectDevice();
        });
        connect(device, &QCanBusDevice::stateChanged, device, [device](QCanBusDevice::CanBusDeviceState state) {
            if (state == QCanBusDevice::UnconnectedState)
                device->deleteLater();
        });
        // A timer of the device's own goes with it; a single-shot one would
        // outlive it by up to leaveMs.
        auto *limit = new QTimer(device);
        limit->setSingleShot(true);
        connect(limit, &QTimer::timeout, device, &QObject::deleteLater);
        limit->start(leaveMs);
    }
    connect(device, &QObject::destroyed, this, [this] {
        updatePropertiesState();
        raiseDataChanged();
    });
}

void PCom_CanBus_Port::abortLink()
{
    closePrivate();
    if (m_leaving) {
        QCanBusDevice *device = m_leaving.data();
        m_leaving = nullptr;
        pcomRelease(device);
    }
    raiseDataChanged();
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
    if (len < 0 || !m_frames->canSend())
        return -1;
    return sendFrame(data, len, frameId) ? len : -1;
}

int PCom_CanBus_Port::writeByteStream(const char *data, int len, unsigned int frameId)
{
    if (len >= 0 && m_frames->canSend()) {
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
        m_frames->logErrorFrame(frame);
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

AbstractTreeItem *PCom_CanBus_Port::createInstance()
{
    return new PCom_CanBus_Port(m_device);
}

void PCom_CanBus_Port::traceSet(const QString &name, const QVariant &value)
{
    Plugin_Com_Device::log(KrLog_Interface::Trace, QStringLiteral("%1(%2)::setTavlinProperty(%3, %4) ")
                                                       .arg(typeKey(), m_deviceName, name, value.toString()));
}

void PCom_CanBus_Port::onError(QCanBusDevice::CanBusError error)
{
    const QScopedValueRollback<int> inSignal(m_inDeviceSignal, m_inDeviceSignal + 1);
    if (error < QCanBusDevice::ReadError || error > QCanBusDevice::TimeoutError || !m_canDevice)
        return;
    m_lastError = m_canDevice->errorString();
    Plugin_Com_Device::log(KrLog_Interface::Error, QStringLiteral("PCom_CanBus_Port: %1").arg(m_lastError));
    if (error == QCanBusDevice::ConnectionError)
        reportLinkLost(LossKind::Failed, m_lastError);
}

void PCom_CanBus_Port::onFrameWritten(qint64 framesCount)
{
    const QScopedValueRollback<int> inSignal(m_inDeviceSignal, m_inDeviceSignal + 1);
    reportBytesWritten(framesCount);
}

// The virtual bus's relay gone, an interface taken down, ...
void PCom_CanBus_Port::onStateChanged(QCanBusDevice::CanBusDeviceState state)
{
    const QScopedValueRollback<int> inSignal(m_inDeviceSignal, m_inDeviceSignal + 1);
    if (state != QCanBusDevice::UnconnectedState || !m_canDevice)
        return;
    const QString reason = m_canDevice->errorString();
    reportLinkLost(LossKind::Failed, reason.isEmpty() ? QStringLiteral("the CAN device disconnected") : reason);
}

PCom_Port::LinkState PCom_CanBus_Port::linkState() const
{
    if (!m_canDevice && m_leaving)
        return LinkState::Closing;
    return PCom_Port::linkState();
}

qint64 PCom_CanBus_Port::bytesToWrite() const
{
    if (m_canDevice)
        return m_canDevice->framesToWrite();
    return m_leaving ? m_leaving->framesToWrite() : 0;
}

QString PCom_CanBus_Port::lastErrorString() const
{
    return m_lastError;
}

// Received frames wait in the Qt CAN device, which has no bound to set; a CAN
// bus has no flow control to hold a sender back either.
void PCom_CanBus_Port::setReadBufferSize(qint64)
{
}
