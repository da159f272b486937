#include "hostlib/PortReader.h"

#include "core/PCom_CanFrameType.h"
#include "core/PCom_CanFrames.h"
#include "core/PCom_ServedClients.h"
#include "host/Plugin_Com_Port.h"
#include "hostlib/PluginHost.h"

#include <QTimer>

namespace {
const quint32 errorFrameId = 0xFFFFFFFFu;
} // namespace

PortReader::PortReader(Plugin_Com_Port *port, QObject *parent)
    : QObject(parent),
      m_port(port),
      m_frames(port->usesFrameIds()),
      m_canFrames(m_frames ? PluginHost::face<PCom_CanFrames>(port) : nullptr),
      m_served(m_frames ? nullptr : PluginHost::face<PCom_ServedClients>(port)),
      m_buffer(size_t(m_frames ? frameBuffer : streamChunk))
{
    connect(m_port, &Plugin_Com_Port::readyRead, this, &PortReader::drain);
}

void PortReader::drain()
{
    if (m_draining || m_paused || m_held)
        return;
    m_draining = true;
    bool more = true;
    const int limit = m_frames ? framesPerTurn : readsPerTurn;
    for (int reads = 0; more && !m_paused && !m_held && reads < limit; ++reads)
        more = readOnce();
    m_draining = false;
    if (more && !m_paused && !m_held && !m_continuationQueued) {
        m_continuationQueued = true;
        QTimer::singleShot(0, this, [this]() {
            m_continuationQueued = false;
            drain();
        });
    }
}

void PortReader::resume()
{
    if (!m_paused)
        return;
    m_paused = false;
    drain();
}

void PortReader::hold(bool held)
{
    if (held == m_held)
        return;
    m_held = held;
    drain();
}

void PortReader::takeRest()
{
    const bool paused = m_paused;
    m_paused = false;
    m_draining = true;
    while (readOnce()) {
    }
    m_draining = false;
    m_paused = paused;
}

bool PortReader::readOnce()
{
    char *buffer = m_buffer.data();
    if (m_canFrames) {
        const QCanBusFrame frame = m_canFrames->readFrame();
        if (frame.frameType() == QCanBusFrame::InvalidFrame)
            return false;
        m_bytesRead += frame.payload().size();
        emit frameReceived(frame);
        return true;
    }
    if (m_frames) {
        unsigned int id = 0;
        const int n = m_port->readRawData(buffer, frameBuffer, &id);
        if (n >= 0) {
            m_bytesRead += n;
            emit frameReceived(QCanBusFrame(id, QByteArray(buffer, n)));
            return true;
        }
        // An error frame reads as -1 too, but more frames may wait behind it.
        return id == errorFrameId;
    }
    const int size = int(m_buffer.size());
    const int n = m_served ? m_served->readClientBytes(buffer, size, &m_client) : m_port->readRawData(buffer, size);
    if (n <= 0)
        return false;
    m_bytesRead += n;
    emit received(buffer, n);
    return true;
}
