#pragma once

#include "tests/stress/StreamTally.h"

#include <QByteArray>
#include <QObject>

#include <functional>

// A checked one-way transfer of `total` stream bytes from a writer to a
// reader, paced by what has arrived: no more than `window` bytes are in
// flight, so no buffer on the way grows without bound. pump() moves what it
// can; connect it to whatever announces arriving bytes (and, for a writer
// that can be full, to whatever announces room).
class StreamTransfer : public QObject
{
    Q_OBJECT
public:
    // Count taken, 0 when the writer is full, -1 on failure.
    using Writer = std::function<qint64(const char *, int)>;
    // Count read, 0 or -1 when nothing is waiting.
    using Reader = std::function<qint64(char *, int)>;

    StreamTransfer(quint64 seed, qint64 total, Writer writer, Reader reader,
                   qint64 window = 4 << 20, int chunk = 64 << 10);

    bool complete() const { return m_received.count() >= m_total; }
    bool failed() const { return m_writeFailed || m_received.firstMismatch() >= 0 || m_received.count() > m_total; }
    bool finished() const { return complete() || failed(); }

    qint64 sentCount() const { return m_sent.count(); }
    qint64 receivedCount() const { return m_received.count(); }
    qint64 firstMismatch() const { return m_received.firstMismatch(); }
    // SHA-256 at each end; both end their tallies.
    QByteArray sentChecksum() { return m_sent.checksum(); }
    QByteArray receivedChecksum() { return m_received.checksum(); }

public slots:
    void pump();

private:
    StressStream m_stream;
    qint64 m_total;
    Writer m_writer;
    Reader m_reader;
    qint64 m_window;
    int m_chunk;
    StreamTally m_sent;
    StreamTally m_received;
    QByteArray m_buffer;
    bool m_writeFailed = false;
};
