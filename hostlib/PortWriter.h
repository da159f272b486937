#pragma once

#include <QCanBusFrame>
#include <QElapsedTimer>
#include <QObject>
#include <QQueue>
#include <QTimer>

class PCom_CanFrames;
class PCom_LinkStatus;
class Plugin_Com_Port;

// Hands bytes (or frames) to an open port and keeps the account of them:
// taken from the host, left for the link (delivered), dropped, and still
// waiting, here or in the port (the backlog; the port's part comes from its
// companion). A source that feeds it stops while isFull() and
// goes on at backlogLow(), so that memory stays bounded.
//
// What a short write leaves waits here and goes first when the port has
// sent or announces a change. A port that takes nothing at all (a TCP server
// without clients) is served by the hold limit: everything is held (the source is bounded by isFull()),
// nothing (dropped and counted, as on a line nobody listens to), or up to a
// number of bytes for the next client, the rest dropped. A frame that the
// port refuses is retried while the link may still be coming up (until the
// first frame got through, for at most frameStartupMs) and otherwise
// reported and dropped.
class PortWriter : public QObject
{
    Q_OBJECT
public:
    PortWriter(Plugin_Com_Port *port, PCom_LinkStatus *status, QObject *parent = nullptr);

    // Bytes, to a stream port.
    void write(const char *data, int size);
    // A frame, to a port that uses frame identifiers; `line` names its input
    // line in messages (0: none). Whole frames (extended identifiers, remote
    // requests, flexible data rate) go through the port's CAN frames face
    // where it has one; a port with the framework's calls only carries base-format
    // data frames and the others are dropped and counted, said once.
    void writeFrame(const QCanBusFrame &frame, qint64 line = 0);

    // holdAll (the default), 0 (drop) or the most bytes held.
    void setHoldLimit(qint64 bytes) { m_holdLimit = bytes; }
    // The most bytes per write to the port: a datagram port sends each
    // write as one datagram.
    void setMaxWriteSize(int bytes) { m_maxWrite = bytes; }

    qint64 backlog() const { return m_queuedBytes + portPending(); }
    // The part of the backlog that the port itself took and still holds.
    qint64 portPending() const;
    bool isFull() const { return backlog() >= highWater; }
    bool isDrained() const { return m_queue.isEmpty() && portPending() == 0; }
    bool isHolding() const { return !m_queue.isEmpty(); }

    qint64 bytesTaken() const { return m_taken; }
    qint64 bytesDropped() const { return m_dropped; }
    // Frames that the port refused or could not carry.
    qint64 framesDropped() const { return m_framesDropped; }
    // Taken, not dropped, and no longer waiting here or in the port.
    qint64 bytesDelivered() const;
    // Drops what waits here; returns that byte count (not counted as
    // dropped: the caller reports it as not written out).
    qint64 discard();
    // While the link is away (and will be back), what waits here and what
    // comes is dropped and counted, and the port is left alone; the source
    // may go on.
    void setAway(bool away);

    static const qint64 holdAll = -1;
    static const qint64 highWater = 1024 * 1024;
    static const qint64 lowWater = 256 * 1024;
    static const int frameRetryMs = 20;
    static const int frameStartupMs = 3000;

signals:
    // Bytes moved on: into the port, or out of it to the link.
    void progress();
    // The backlog fell below lowWater after isFull() was seen.
    void backlogLow();
    // Nothing waits here or in the port (after something did).
    void drained();

private:
    void onBytesWritten(qint64 count);
    struct Chunk {
        QByteArray data;
        QCanBusFrame frame;
        qint64 line = 0;
        int offset = 0;
        qint64 firstTryMs = -1;
    };

    // Writes as much of data as the port takes now; returns that count.
    int hand(const char *data, int size);
    bool sendFrame(const QCanBusFrame &frame, qint64 line, qint64 firstTryMs);
    // Whether the port took the frame; false with the reason in *why when
    // it cannot carry it at all.
    bool handFrame(const QCanBusFrame &frame, QString *why);
    void hold(const char *data, int size, const QCanBusFrame &frame, qint64 line);
    void flush();
    void sendNow();
    void settle();

    Plugin_Com_Port *m_port;
    PCom_LinkStatus *m_status;
    bool m_frames;
    PCom_CanFrames *m_canFrames;
    bool m_frameTaken = false;
    bool m_flushing = false;
    bool m_sendingNow = false;
    bool m_wasFull = false;
    bool m_wasBusy = false;
    qint64 m_holdLimit = holdAll;
    bool m_away = false;
    int m_maxWrite = 0;
    QQueue<Chunk> m_queue;
    qint64 m_queuedBytes = 0;
    qint64 m_taken = 0;
    qint64 m_dropped = 0;
    qint64 m_framesDropped = 0;
    bool m_toldUncarried = false;
    // Frames handed to the port and not yet sent, by payload size.
    QQueue<int> m_frameSizes;
    qint64 m_frameBytesInPort = 0;
    qint64 m_discarded = 0;
    mutable qint64 m_delivered = 0;
    QTimer m_retry;
    QElapsedTimer m_clock;
};
