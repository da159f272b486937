#pragma once

#include <QByteArray>
#include <QtGlobal>

// A deterministic pseudo-random byte stream. Byte p depends only on the seed
// and on p, so a receiver can check every byte it gets against what the
// sender must have sent at that offset: a lost, doubled, reordered or
// altered byte shows as a mismatch.
class StressStream
{
public:
    explicit StressStream(quint64 seed) : m_seed(seed) {}

    void fill(qint64 offset, char *out, int size) const;
    QByteArray chunk(qint64 offset, int size) const;

private:
    quint64 word(quint64 index) const;

    quint64 m_seed;
};
