#include "tests/stress/StreamTransfer.h"

StreamTransfer::StreamTransfer(quint64 seed, qint64 total, Writer writer, Reader reader, qint64 window, int chunk)
    : m_stream(seed), m_total(total), m_writer(std::move(writer)), m_reader(std::move(reader)),
      m_window(window), m_chunk(chunk), m_sent(m_stream), m_received(m_stream), m_buffer(chunk, Qt::Uninitialized)
{
}

void StreamTransfer::pump()
{
    // Everything waiting is taken now: a reader announces only new bytes.
    // Each round takes at least one byte, so the total bounds the rounds.
    for (qint64 round = 0; round <= m_total; ++round) {
        const qint64 n = m_reader(m_buffer.data(), m_chunk);
        if (n <= 0)
            break;
        m_received.received(m_buffer.constData(), int(n));
    }

    while (!m_writeFailed && m_sent.count() < m_total && m_sent.count() - m_received.count() < m_window) {
        const int size = int(qMin<qint64>(m_chunk, m_total - m_sent.count()));
        m_stream.fill(m_sent.count(), m_buffer.data(), size);
        const qint64 taken = m_writer(m_buffer.constData(), size);
        if (taken < 0 || taken > size)
            m_writeFailed = true;
        if (taken <= 0)
            break;
        m_sent.sent(m_buffer.constData(), int(taken));
    }
}
