#pragma once

#include <QByteArray>
#include <QObject>

#include <functional>

// A checked one-way transfer of `total` bytes from a writer to a reader,
// paced by what has arrived: no more than `window` bytes are in flight, so
// no buffer on the way grows without bound. The bytes are a pseudo-random
// stream in which byte p depends only on the seed and on p, so the reader
// compares every byte with what must have been sent at that offset: a lost,
// doubled, reordered or altered byte shows as a mismatch. pump() moves what
// it can; whatever announces arriving bytes (or room to write) calls it.
class StreamTransfer : public QObject
{
public:
    // Count taken, 0 when the writer is full, -1 on failure.
    using Writer = std::function<qint64(const char *, int)>;
    // Count read, 0 or -1 when nothing is waiting.
    using Reader = std::function<qint64(char *, int)>;

    StreamTransfer(quint64 seed, qint64 total, Writer writer, Reader reader,
                   qint64 window = 4 << 20, int chunk = 64 << 10);

    void pump();

    bool failed() const { return m_writeFailed || m_firstMismatch >= 0 || m_received > m_total; }
    bool finished() const { return m_received >= m_total || failed(); }
    qint64 sent() const { return m_sent; }
    qint64 received() const { return m_received; }
    // Offset of the first byte that differs from the stream, -1 if none.
    qint64 firstMismatch() const { return m_firstMismatch; }
    // What is wrong when everything should have arrived; empty if nothing.
    QString fault() const;

    // Bytes [offset, offset + size) of the stream of `seed`.
    static void fill(quint64 seed, qint64 offset, char *out, int size);

private:
    quint64 m_seed;
    qint64 m_total;
    Writer m_writer;
    Reader m_reader;
    qint64 m_window;
    int m_chunk;
    qint64 m_sent = 0;
    qint64 m_received = 0;
    qint64 m_firstMismatch = -1;
    bool m_writeFailed = false;
    QByteArray m_buffer;
    QByteArray m_expected;
};
