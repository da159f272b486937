#pragma once

#include "tests/stress/StressStream.h"

#include <QByteArray>
#include <QCryptographicHash>

// One end of a checked transfer: counts and hashes the bytes that pass, and
// on the receiving end compares each with the stream at its offset.
class StreamTally
{
public:
    explicit StreamTally(const StressStream &stream) : m_stream(stream) {}

    // Bytes sent: counted and hashed.
    void sent(const char *data, int size);
    // Bytes received: also compared with the stream.
    void received(const char *data, int size);

    qint64 count() const { return m_count; }
    // Offset of the first byte that differs from the stream, -1 if none.
    qint64 firstMismatch() const { return m_firstMismatch; }
    // SHA-256 of every byte so far; ends the tally.
    QByteArray checksum() { return m_hash.result().toHex(); }

private:
    StressStream m_stream;
    QCryptographicHash m_hash{QCryptographicHash::Sha256};
    QByteArray m_expected;
    qint64 m_count = 0;
    qint64 m_firstMismatch = -1;
};
