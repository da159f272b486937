#include "core/PCom_PortStatus.h"

#include "core/PCom_Port.h"

PCom_PortStatus::PCom_PortStatus(PCom_Port *port)
    : m_port(port)
{
}

PCom_LinkStatus::LinkState PCom_PortStatus::linkState() const
{
    return m_port->linkState();
}

qint64 PCom_PortStatus::bytesToWrite() const
{
    return m_port->bytesToWrite();
}

QString PCom_PortStatus::lastErrorString() const
{
    return m_port->lastErrorString();
}

void PCom_PortStatus::setReadBufferSize(qint64 size)
{
    m_port->setReadBufferSize(size);
}

bool PCom_PortStatus::canCloseWrite() const
{
    return m_port->canCloseWrite();
}

bool PCom_PortStatus::closeWrite()
{
    return m_port->closeWrite();
}

int PCom_PortStatus::maxWriteSize() const
{
    return m_port->maxWriteSize();
}

void PCom_PortStatus::flush()
{
    m_port->flush();
}

void PCom_PortStatus::abortLink()
{
    m_port->abortLink();
}

void PCom_PortStatus::clearLoss()
{
    m_loss = LossKind::None;
    m_reason.clear();
}

void PCom_PortStatus::reportLoss(LossKind kind, const QString &reason)
{
    if (m_loss != LossKind::None)
        return;
    m_loss = kind;
    m_reason = reason;
    emit linkLost(reason);
}
