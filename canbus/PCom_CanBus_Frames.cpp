#include "canbus/PCom_CanBus_Frames.h"

#include "canbus/PCom_CanBus_Port.h"

PCom_CanBus_Frames::PCom_CanBus_Frames(PCom_CanBus_Port *port)
    : PCom_CanFrames(port->linkStatus()), m_port(port)
{
}

bool PCom_CanBus_Frames::writeFrame(const QCanBusFrame &frame)
{
    if (!m_port->canSend())
        return false;
    if (m_port->m_canDevice->writeFrame(frame))
        return true;
    m_port->m_lastError = m_port->m_canDevice->errorString();
    return false;
}

QCanBusFrame PCom_CanBus_Frames::readFrame()
{
    if (framesAvailable() == 0)
        return QCanBusFrame(QCanBusFrame::InvalidFrame);
    const QCanBusFrame frame = m_port->m_canDevice->readFrame();
    if (frame.frameType() == QCanBusFrame::ErrorFrame)
        m_port->logErrorFrame(frame);
    return frame;
}

qint64 PCom_CanBus_Frames::framesAvailable() const
{
    return m_port->m_canDevice ? m_port->m_canDevice->framesAvailable() : 0;
}
