#include "canbus/PCom_CanBus_Frames.h"

#include "core/PCom_PortStatus.h"
#include "host/Plugin_Com_Device.h"

#include <QCanBusDevice>

PCom_CanBus_Frames::PCom_CanBus_Frames(PCom_PortStatus *status, QCanBusDevice *const &device, QString &lastError)
    : PCom_CanFrames(status), m_device(device), m_lastError(lastError)
{
}

bool PCom_CanBus_Frames::canSend() const
{
    return m_device && m_device->error() == QCanBusDevice::NoError;
}

void PCom_CanBus_Frames::logErrorFrame(const QCanBusFrame &frame) const
{
    Plugin_Com_Device::log(KrLog_Interface::Error,
                           QStringLiteral("PCom_CanBus_Port: %1").arg(m_device->interpretErrorFrame(frame)));
}

bool PCom_CanBus_Frames::writeFrame(const QCanBusFrame &frame)
{
    if (!canSend())
        return false;
    if (m_device->writeFrame(frame))
        return true;
    m_lastError = m_device->errorString();
    return false;
}

QCanBusFrame PCom_CanBus_Frames::readFrame()
{
    if (framesAvailable() == 0)
        return QCanBusFrame(QCanBusFrame::InvalidFrame);
    const QCanBusFrame frame = m_device->readFrame();
    if (frame.frameType() == QCanBusFrame::ErrorFrame)
        logErrorFrame(frame);
    return frame;
}

qint64 PCom_CanBus_Frames::framesAvailable() const
{
    return m_device ? m_device->framesAvailable() : 0;
}

QCanBusDevice::CanBusStatus PCom_CanBus_Frames::busStatus() const
{
    if (!m_device || !m_device->hasBusStatus())
        return QCanBusDevice::CanBusStatus::Unknown;
    return m_device->busStatus();
}
