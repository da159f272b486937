#include "hostlib/PortWriter.h"

#include "core/PCom_CanFrameType.h"
#include "core/PCom_CanFrames.h"
#include "core/PCom_LinkStatus.h"
#include "host/Plugin_Com_Port.h"
#include "hostlib/CanLineParser.h"
#include "hostlib/LogReceiver.h"

PortWriter::PortWriter(Plugin_Com_Port *port, PCom_LinkStatus *status, QObject *parent)
    : QObject(parent),
      m_port(port),
      m_status(status),
      m_frames(port->usesFrameIds()),
      m_canFrames(m_frames && status ? status->face<PCom_CanFrames>() : nullptr)
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
        connect(m_status, &PCom_LinkStatus::bytesWritten, this, &PortWriter::onBytesWritten);
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

void PortWriter::write(const char *data, int size)
{
    m_taken += size;
    if (m_away) {
        m_dropped += size;
        return;
    }
    if (!m_queue.isEmpty()) {
        // Held behind what waits; full is noted now, or no backlogLow()
        // would follow once it all left.
        hold(data, size, QCanBusFrame(), 0);
        settle();
        return;
    }
    const int taken = hand(data, size);
    if (taken < size)
        hold(data + taken, size - taken, QCanBusFrame(), 0);
    sendNow();
    settle();
}

void PortWriter::writeFrame(const QCanBusFrame &frame, qint64 line)
{
    m_taken += frame.payload().size();
    if (m_away) {
        m_dropped += frame.payload().size();
        return;
    }
    if (!m_queue.isEmpty() || !sendFrame(frame, line, m_clock.elapsed()))
        hold(nullptr, 0, frame, line);
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

bool PortWriter::handFrame(const QCanBusFrame &frame, QString *why)
{
    if (m_canFrames)
        return m_canFrames->writeFrame(frame);
    // The framework's call makes a frame extended exactly when its
    // identifier needs it.
    if (frame.frameType() != QCanBusFrame::DataFrame || frame.hasFlexibleDataRateFormat()
        || frame.hasExtendedFrameFormat() != (frame.frameId() > 0x7FF)) {
        *why = QStringLiteral("the port carries base-format data frames only (and extended ones above 7FF)");
        return false;
    }
    const QByteArray payload = frame.payload();
    return m_port->writeRawData(payload.constData(), payload.size(), frame.frameId()) == payload.size();
}

// True when the frame is done with: taken, or refused for good (reported).
bool PortWriter::sendFrame(const QCanBusFrame &frame, qint64 line, qint64 firstTryMs)
{
    const int size = frame.payload().size();
    // Counted before the write: a back-end may report the frame sent from
    // inside it.
    if (m_status) {
        m_frameSizes.enqueue(size);
        m_frameBytesInPort += size;
    }
    QString uncarried;
    if (handFrame(frame, &uncarried)) {
        m_frameTaken = true;
        emit progress();
        return true;
    }
    if (m_status && !m_frameSizes.isEmpty()) {
        m_frameSizes.removeLast();
        m_frameBytesInPort -= size;
    }
    if (uncarried.isEmpty() && !m_frameTaken && m_clock.elapsed() - firstTryMs < frameStartupMs)
        return false;
    m_dropped += size;
    ++m_framesDropped;
    const QString where = line > 0 ? QStringLiteral("line %1: ").arg(line) : QString();
    const QString text = QString::fromLatin1(CanLineParser::format(frame));
    if (!uncarried.isEmpty()) {
        if (!m_toldUncarried)
            LogReceiver::post(QStringLiteral("error"),
                              QStringLiteral("%1%2: %3 is not sent").arg(where, uncarried, text));
        m_toldUncarried = true;
        return true;
    }
    const QString reason = m_status ? m_status->lastErrorString() : QString();
    LogReceiver::post(QStringLiteral("error"), QStringLiteral("%1the port did not take the frame %2%3")
                                                   .arg(where, text, reason.isEmpty() ? QString() : ": " + reason));
    return true;
}

void PortWriter::hold(const char *data, int size, const QCanBusFrame &frame, qint64 line)
{
    const bool nothingTaken = m_queue.isEmpty();
    if (m_frames)
        size = frame.payload().size();
    qint64 room = size;
    if (!m_frames && m_holdLimit != holdAll)
        room = qMax<qint64>(0, qMin<qint64>(size, m_holdLimit - m_queuedBytes));
    if (room < size)
        m_dropped += size - room;
    if (room > 0 || m_frames) {
        Chunk chunk;
        if (m_frames)
            chunk.frame = frame;
        else
            chunk.data = QByteArray(data, int(room));
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
            if (!sendFrame(chunk.frame, chunk.line, chunk.firstTryMs))
                break;
            m_queuedBytes -= chunk.frame.payload().size();
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
    sendNow();
    settle();
}

// What the port took leaves now: a socket or serial port would send it at the
// next turn of the loop, a wait that every relayed byte would pay. The
// bytesWritten() that comes from inside is only counted; the caller settles.
void PortWriter::sendNow()
{
    if (!m_status || m_frames || m_sendingNow || m_status->bytesToWrite() == 0)
        return;
    m_sendingNow = true;
    m_status->flush();
    m_sendingNow = false;
    // A flush inside the socket's own bytesWritten() sends without a signal.
    emit progress();
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

void PortWriter::setAway(bool away)
{
    m_away = away;
    if (!away)
        return;
    m_dropped += m_queuedBytes;
    m_queue.clear();
    m_queuedBytes = 0;
    m_retry.stop();
    settle();
}

void PortWriter::onBytesWritten(qint64 count)
{
    if (m_frames) {
        for (qint64 i = 0; i < count && !m_frameSizes.isEmpty(); ++i)
            m_frameBytesInPort -= m_frameSizes.dequeue();
    }
    emit progress();
    if (m_sendingNow)
        return;
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
