#include "bench/PortEndpoint.h"

#include "host/Plugin_Com_Port.h"

PortEndpoint::PortEndpoint(Plugin_Com_Port *port, unsigned int frameId, QObject *parent)
    : BenchEndpoint(parent), m_port(port), m_frames(port->usesFrameIds()), m_frameId(frameId)
{
    connect(port, &Plugin_Com_Port::readyRead, this, &BenchEndpoint::readyRead);
}

qint64 PortEndpoint::write(const char *data, qint64 len)
{
    return m_frames ? m_port->writeRawData(data, int(len), m_frameId) : m_port->writeRawData(data, int(len));
}

qint64 PortEndpoint::read(char *buffer, qint64 maxLen)
{
    if (m_frames) {
        unsigned int id = 0;
        return m_port->readRawData(buffer, int(maxLen), &id);
    }
    return m_port->readRawData(buffer, int(maxLen));
}
