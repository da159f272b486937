#include "hostlib/PortWriter.h"

#include "hostlib/CanLineParser.h"
#include "hostlib/LogReceiver.h"
#include "host/Plugin_Com_Port.h"

PortWriter::PortWriter(Plugin_Com_Port *port, QObject *parent)
    : QObject(parent), m_port(port), m_frames(port->usesFrameIds())
{
    m_clock.start();
    m_retry.setSingleShot(true);
    connect(&m_retry, &QTimer::timeout, this, &PortWriter::flush);
}

void PortWriter::enqueue(const QByteArray &data, quint32 frameId, qint64 line)
{
    Chunk chunk;
    chunk.data = data;
    chunk.frameId = frameId;
    chunk.line = line;
    m_queue.enqueue(chunk);
    m_pendingBytes += data.size();
    if (!m_retry.isActive())
        flush();
}

qint64 PortWriter::discard()
{
    const qint64 dropped = m_pendingBytes;
    m_queue.clear();
    m_pendingBytes = 0;
    m_retry.stop();
    return dropped;
}

qint64 PortWriter::msUntilSent() const
{
    return qMax<qint64>(0, m_busyUntilMs - m_clock.elapsed());
}

void PortWriter::flush()
{
    if (m_flushing)
        return;
    m_flushing = true;
    bool wasBusy = !m_queue.isEmpty();
    while (!m_queue.isEmpty() && writeFront()) {
    }
    m_flushing = false;
    if (wasBusy && m_queue.isEmpty())
        emit drained();
}

bool PortWriter::writeFront()
{
    Chunk &chunk = m_queue.head();
    if (chunk.firstTryMs < 0)
        chunk.firstTryMs = m_clock.elapsed();

    if (m_frames) {
        const int n = m_port->writeRawData(chunk.data.constData(), chunk.data.size(), chunk.frameId);
        if (n == chunk.data.size()) {
            m_frameTaken = true;
            noteSent(n);
        } else if (!m_frameTaken && m_clock.elapsed() - chunk.firstTryMs < frameStartupMs) {
            scheduleRetry(retryMs);
            return false;
        } else {
            ++m_framesRefused;
            const QString where = chunk.line > 0 ? QStringLiteral("line %1: ").arg(chunk.line) : QString();
            LogReceiver::post(QStringLiteral("error"),
                              QStringLiteral("%1the port did not take the frame %2")
                                  .arg(where, QString::fromLatin1(CanLineParser::format(chunk.frameId, chunk.data))));
        }
        m_pendingBytes -= chunk.data.size();
        m_queue.dequeue();
        return true;
    }

    const int remaining = chunk.data.size() - chunk.offset;
    const int n = m_port->writeRawData(chunk.data.constData() + chunk.offset, remaining);
    if (n <= 0) {
        scheduleRetry(retryMs);
        return false;
    }
    const int taken = qMin(n, remaining);
    chunk.offset += taken;
    m_pendingBytes -= taken;
    noteSent(taken);
    if (chunk.offset < chunk.data.size()) {
        // A short write: the rest goes on the next turn.
        scheduleRetry(0);
        return false;
    }
    m_queue.dequeue();
    return true;
}

void PortWriter::noteSent(qint64 bytes)
{
    m_bytesWritten += bytes;
    if (m_lineRate > 0) {
        const qint64 now = m_clock.elapsed();
        m_busyUntilMs = qMax(m_busyUntilMs, now) + qint64(bytes * 1000.0 / m_lineRate);
    }
}

void PortWriter::scheduleRetry(int ms)
{
    if (!m_retry.isActive())
        m_retry.start(ms);
}
