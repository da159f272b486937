#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QQueue>
#include <QTimer>

class Plugin_Com_Port;

// Hands bytes (or frames) to a port without losing any: what a short write
// leaves is kept and tried again on a later turn of the event loop, and a
// port that takes nothing (a server without clients) is tried again after
// a short pause. A frame that the port refuses is retried while the link
// may still be coming up (until the first frame got through, for at most
// frameStartupMs) and otherwise reported and dropped.
class PortWriter : public QObject
{
    Q_OBJECT
public:
    explicit PortWriter(Plugin_Com_Port *port, QObject *parent = nullptr);

    // `line` names the input line of a frame in messages (0: none).
    void enqueue(const QByteArray &data, quint32 frameId = 0, qint64 line = 0);

    bool isIdle() const { return m_queue.isEmpty(); }
    qint64 pendingBytes() const { return m_pendingBytes; }
    qint64 bytesWritten() const { return m_bytesWritten; }
    qint64 framesRefused() const { return m_framesRefused; }

    // Drops what is still waiting; returns the byte count dropped.
    qint64 discard();

    // Bytes per second that the link itself sends (a serial line's baud
    // rate / 10); 0 when unknown. Lets msUntilSent() estimate when the
    // link has sent what the port took.
    void setLineRate(double bytesPerSecond) { m_lineRate = bytesPerSecond; }
    qint64 msUntilSent() const;

    static const int retryMs = 20;
    static const int frameStartupMs = 3000;

signals:
    // The queue became empty.
    void drained();

private:
    struct Chunk {
        QByteArray data;
        quint32 frameId = 0;
        qint64 line = 0;
        int offset = 0;
        qint64 firstTryMs = -1;
    };

    void flush();
    // One attempt on the front chunk; false when the writer must wait.
    bool writeFront();
    void noteSent(qint64 bytes);
    void scheduleRetry(int ms);

    Plugin_Com_Port *m_port;
    bool m_frames;
    bool m_frameTaken = false;
    bool m_flushing = false;
    QQueue<Chunk> m_queue;
    qint64 m_pendingBytes = 0;
    qint64 m_bytesWritten = 0;
    qint64 m_framesRefused = 0;
    QTimer m_retry;
    QElapsedTimer m_clock;
    double m_lineRate = 0;
    qint64 m_busyUntilMs = 0;
};
