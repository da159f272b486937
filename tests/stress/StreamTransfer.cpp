#include "tests/stress/StreamTransfer.h"

#include <cstring>

StreamTransfer::StreamTransfer(quint64 seed, qint64 total, Writer writer, Reader reader, qint64 window, int chunk)
    : m_seed(seed), m_total(total), m_writer(std::move(writer)), m_reader(std::move(reader)), m_window(window),
      m_chunk(chunk), m_buffer(chunk, Qt::Uninitialized), m_expected(chunk, Qt::Uninitialized)
{
}

// splitmix64 of the word index: cheap, and no two nearby words look alike.
void StreamTransfer::fill(quint64 seed, qint64 offset, char *out, int size)
{
    for (int done = 0; done < size;) {
        const quint64 position = quint64(offset + done);
        quint64 z = seed + (position / 8 + 1) * 0x9E3779B97F4A7C15ull;
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        z ^= z >> 31;
        for (int b = int(position % 8); b < 8 && done < size; ++b)
            out[done++] = char(z >> (8 * b));
    }
}

void StreamTransfer::pump()
{
    // Everything waiting is taken now: a reader announces only new bytes.
    // Each round takes at least one byte, so the total bounds the rounds.
    for (qint64 round = 0; round <= m_total; ++round) {
        const qint64 n = m_reader(m_buffer.data(), m_chunk);
        if (n <= 0)
            break;
        fill(m_seed, m_received, m_expected.data(), int(n));
        if (m_firstMismatch < 0 && std::memcmp(m_expected.constData(), m_buffer.constData(), size_t(n)) != 0) {
            int i = 0;
            while (m_expected.at(i) == m_buffer.at(i))
                ++i;
            m_firstMismatch = m_received + i;
        }
        m_received += n;
    }
    while (!m_writeFailed && m_sent < m_total && m_sent - m_received < m_window) {
        const int size = int(qMin<qint64>(m_chunk, m_total - m_sent));
        fill(m_seed, m_sent, m_buffer.data(), size);
        const qint64 taken = m_writer(m_buffer.constData(), size);
        if (taken < 0 || taken > size)
            m_writeFailed = true;
        if (taken <= 0)
            break;
        m_sent += taken;
    }
}

QString StreamTransfer::fault() const
{
    if (m_writeFailed)
        return QStringLiteral("a write failed after %1 bytes").arg(m_sent);
    if (m_firstMismatch >= 0)
        return QStringLiteral("byte %1 differs from what was sent").arg(m_firstMismatch);
    if (m_received != m_total || m_sent != m_total)
        return QStringLiteral("%1 of %2 bytes sent, %3 arrived").arg(m_sent).arg(m_total).arg(m_received);
    return QString();
}
