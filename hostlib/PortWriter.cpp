#include "hostlib/PortWriter.h"

#include "core/PCom_LinkStatus.h"
#include "host/Plugin_Com_Port.h"
#include "hostlib/CanLineParser.h"
#include "hostlib/LogReceiver.h"

PortWriter::PortWriter(Plugin_Com_Port *port, PCom_LinkStatus *status, QObject *parent)
    : QObject(parent), m_port(port), m_status(status), m_frames(port->usesFrameIds())
{
    m_clock.start();
    m_retry.setSingleShot(true);
    connect(&m_retry, &QTimer::timeout, this, &PortWriter::flush);
    // A server that gets a client announces it as a data change.
    connect(m_port, &AbstractTreeItem::dataChanged, this, [this]() {
        if (!m_queue.isEmpty() && !m_frames)
            flush();
        settle();
    });
    if (m_status)
        connect(m_port, SIGNAL(bytesWritten(qint64)), this, SLOT(onBytesWritten(qint64)));
}

qint64 PortWriter::portPending() const
{
    if (m_frames)
        return m_frameBytesInPort;
    return m_status ? m_status->bytesToWrite() : 0;
}

qint64 PortWriter::bytesDelivered() const
{
    // A TCP server counts its backlog over every client, so the difference
    // may run ahead of itself for a moment; what was counted stays counted.
    const qint64 now = m_taken - m_dropped - m_discarded - m_queuedBytes - portPending();
    m_delivered = qMax(m_delivered, now);
    return m_delivered;
}

void PortWriter::write(const char *data, int size, quint32 frameId, qint64 line)
{
    m_taken += size;
    if (!m_queue.isEmpty()) {
        hold(data, size, frameId, line);
        return;
    }
    if (m_frames) {
        if (!writeFrame(data, size, frameId, line, m_clock.elapsed()))
            hold(data, size, frameId, line);
    } else {
        const int taken = hand(data, size);
        if (taken < size)
            hold(data + taken, size - taken, 0, line);
    }
    settle();
}

int PortWriter::hand(const char *data, int size)
{
    int done = 0;
    while (done < size) {
        const int piece = m_maxWrite > 0 ? qMin(m_maxWrite, size - done) : size - done;
        const int n = m_port->writeRawData(data + done, piece);
        if (n <= 0)
            break;
        done += qMin(n, piece);
        if (n < piece)
            break;
    }
    if (done > 0)
        emit progress();
    return done;
}

// True when the frame is done with: taken, or refused for good (reported).
bool PortWriter::writeFrame(const char *data, int size, quint32 frameId, qint64 line, qint64 firstTryMs)
{
    // Counted before the write: a back-end may report the frame sent from
    // inside it.
    if (m_status) {
        m_frameSizes.enqueue(size);
        m_frameBytesInPort += size;
    }
    if (m_port->writeRawData(data, size, frameId) == size) {
        m_frameTaken = true;
        emit progress();
        return true;
    }
    if (m_status && !m_frameSizes.isEmpty()) {
        m_frameSizes.removeLast();
        m_frameBytesInPort -= size;
    }
    if (!m_frameTaken && m_clock.elapsed() - firstTryMs < frameStartupMs)
        return false;
    m_dropped += size;
    const QString where = line > 0 ? QStringLiteral("line %1: ").arg(line) : QString();
    LogReceiver::post(QStringLiteral("error"),
                      QStringLiteral("%1the port did not take the frame %2")
                          .arg(where, QString::fromLatin1(CanLineParser::format(frameId, QByteArray(data, size)))));
    return true;
}

void PortWriter::hold(const char *data, int size, quint32 frameId, qint64 line)
{
    const bool nothingTaken = m_queue.isEmpty();
    qint64 room = size;
    if (!m_frames && m_holdLimit != holdAll)
        room = qMax<qint64>(0, qMin<qint64>(size, m_holdLimit - m_queuedBytes));
    if (room < size)
        m_dropped += size - room;
    if (room > 0) {
        Chunk chunk;
        chunk.data = QByteArray(data, int(room));
        chunk.frameId = frameId;
        chunk.line = line;
        chunk.firstTryMs = m_clock.elapsed();
        m_queue.enqueue(chunk);
        m_queuedBytes += room;
    }
    // Held bytes go on when the port announces a change (a server's new
    // client) or sends; frames are tried again while the bus comes up.
    if (nothingTaken && m_frames && !m_retry.isActive())
        m_retry.start(frameRetryMs);
}

void PortWriter::flush()
{
    if (m_flushing)
        return;
    m_flushing = true;
    while (!m_queue.isEmpty()) {
        Chunk &chunk = m_queue.head();
        if (m_frames) {
            if (!writeFrame(chunk.data.constData(), chunk.data.size(), chunk.frameId, chunk.line, chunk.firstTryMs))
                break;
            m_queuedBytes -= chunk.data.size();
            m_queue.dequeue();
            continue;
        }
        const int left = chunk.data.size() - chunk.offset;
        const int taken = hand(chunk.data.constData() + chunk.offset, left);
        chunk.offset += taken;
        m_queuedBytes -= taken;
        if (taken < left)
            break;
        m_queue.dequeue();
    }
    m_flushing = false;
    if (!m_queue.isEmpty() && m_frames && !m_retry.isActive())
        m_retry.start(frameRetryMs);
    settle();
}

qint64 PortWriter::discard()
{
    const qint64 dropped = m_queuedBytes;
    m_queue.clear();
    m_queuedBytes = 0;
    m_discarded += dropped;
    m_retry.stop();
    return dropped;
}

void PortWriter::onBytesWritten(qint64 count)
{
    if (m_frames) {
        for (qint64 i = 0; i < count && !m_frameSizes.isEmpty(); ++i)
            m_frameBytesInPort -= m_frameSizes.dequeue();
    }
    emit progress();
    if (!m_queue.isEmpty())
        flush();
    else
        settle();
}

// Tells the source when to go on and the owner when all has left.
void PortWriter::settle()
{
    const qint64 now = backlog();
    if (now >= highWater) {
        m_wasFull = true;
    } else if (m_wasFull && now < lowWater) {
        m_wasFull = false;
        emit backlogLow();
    }
    if (now > 0) {
        m_wasBusy = true;
    } else if (m_wasBusy && m_queue.isEmpty()) {
        m_wasBusy = false;
        emit drained();
    }
}
