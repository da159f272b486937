#include "tests/stress/StressStream.h"

// splitmix64 of the word index: cheap, and no two nearby words look alike.
quint64 StressStream::word(quint64 index) const
{
    quint64 z = m_seed + (index + 1) * 0x9E3779B97F4A7C15ull;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

void StressStream::fill(qint64 offset, char *out, int size) const
{
    int done = 0;
    while (done < size) {
        const quint64 position = quint64(offset + done);
        const quint64 w = word(position / 8);
        for (int b = int(position % 8); b < 8 && done < size; ++b)
            out[done++] = char(w >> (8 * b));
    }
}

QByteArray StressStream::chunk(qint64 offset, int size) const
{
    QByteArray out(size, Qt::Uninitialized);
    fill(offset, out.data(), size);
    return out;
}
