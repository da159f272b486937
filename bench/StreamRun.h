#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QString>

class BenchEndpoint;
class QEventLoop;

// Streams a fixed amount from one endpoint to the other on the event loop.
// The sender keeps at most `window` units ahead of what the receiver has
// read, so both sides are measured rather than the sender's buffer; the
// receiver reads everything waiting on each readyRead().
// A unit is a byte, or with countFrames a frame (one write, one read).
class StreamRun : public QObject
{
    Q_OBJECT
public:
    struct Result
    {
        bool ok = false;
        double seconds = 0;
        qint64 units = 0;
        QString error;
    };

    StreamRun(BenchEndpoint *from, BenchEndpoint *to, int chunkSize, qint64 window, bool countFrames);

    Result run(qint64 total, int timeoutMs);

private:
    void refill();
    void drain();

    BenchEndpoint *m_from;
    BenchEndpoint *m_to;
    QByteArray m_chunk;
    QByteArray m_buffer;
    qint64 m_window;
    bool m_frames;
    qint64 m_total = 0;
    qint64 m_sent = 0;
    qint64 m_received = 0;
    QEventLoop *m_loop = nullptr;
    QElapsedTimer m_timer;
    double m_seconds = 0;
};
