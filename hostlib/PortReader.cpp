#include "hostlib/PortReader.h"

#include "host/Plugin_Com_Port.h"

#include <QTimer>

namespace {
// Reads per turn of the event loop before the rest is left to the next turn,
// so that a busy link cannot starve the other side of a relay.
const int readsPerTurn = 256;
const quint32 errorFrameId = 0xFFFFFFFFu;
} // namespace

PortReader::PortReader(Plugin_Com_Port *port, QObject *parent)
    : QObject(parent), m_port(port), m_frames(port->usesFrameIds())
{
    connect(m_port, &Plugin_Com_Port::readyRead, this, &PortReader::drain);
}

void PortReader::drain()
{
    if (m_draining)
        return;
    m_draining = true;
    int reads = 0;
    bool more = true;
    while (more && reads < readsPerTurn) {
        more = readOnce();
        ++reads;
    }
    m_draining = false;
    if (more && !m_continuationQueued) {
        m_continuationQueued = true;
        QTimer::singleShot(0, this, [this]() {
            m_continuationQueued = false;
            drain();
        });
    }
}

bool PortReader::readOnce()
{
    if (m_frames) {
        char buffer[frameBuffer];
        unsigned int id = 0;
        const int n = m_port->readRawData(buffer, frameBuffer, &id);
        if (n >= 0) {
            m_bytesRead += n;
            emit received(QByteArray(buffer, n), id);
            return true;
        }
        // An error frame reads as -1 too, but more frames may wait behind it.
        return id == errorFrameId;
    }

    QByteArray buffer(streamChunk, Qt::Uninitialized);
    const int n = m_port->readRawData(buffer.data(), buffer.size());
    if (n <= 0)
        return false;
    buffer.resize(n);
    m_bytesRead += n;
    emit received(buffer, 0);
    return true;
}
