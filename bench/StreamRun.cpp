#include "bench/StreamRun.h"

#include "bench/BenchEndpoint.h"

#include <QEventLoop>
#include <QTimer>

StreamRun::StreamRun(BenchEndpoint *from, BenchEndpoint *to, int chunkSize, qint64 window, bool countFrames)
    : m_from(from), m_to(to), m_chunk(chunkSize, 'x'), m_buffer(qMax(chunkSize, 65536), '\0'),
      m_window(window), m_frames(countFrames)
{
    for (int i = 0; i < chunkSize; ++i)
        m_chunk[i] = char(i * 7 + 1);
}

StreamRun::Result StreamRun::run(qint64 total, int timeoutMs)
{
    m_total = total;
    m_sent = 0;
    m_received = 0;
    Result result;

    QEventLoop loop;
    m_loop = &loop;
    QTimer guard;
    guard.setSingleShot(true);
    connect(&guard, &QTimer::timeout, &loop, [&loop] { loop.exit(1); });
    const QMetaObject::Connection ready = connect(m_to, &BenchEndpoint::readyRead, this, &StreamRun::drain);

    guard.start(timeoutMs);
    m_timer.start();
    refill();
    const int code = loop.exec();
    disconnect(ready);
    m_loop = nullptr;

    result.units = m_received;
    if (code != 0) {
        result.error = QStringLiteral("timed out after %1 of %2 units").arg(m_received).arg(m_total);
        return result;
    }
    result.ok = true;
    result.seconds = m_seconds;
    return result;
}

void StreamRun::refill()
{
    while (m_sent < m_total && m_sent - m_received < m_window) {
        const qint64 want = m_frames ? m_chunk.size() : qMin<qint64>(m_chunk.size(), m_total - m_sent);
        const qint64 taken = m_from->write(m_chunk.constData(), want);
        if (taken <= 0)
            return;
        m_sent += m_frames ? 1 : taken;
    }
}

void StreamRun::drain()
{
    if (!m_loop)
        return;
    qint64 count;
    while ((count = m_to->read(m_buffer.data(), m_buffer.size())) >= 0)
        m_received += m_frames ? 1 : count;
    if (m_received >= m_total) {
        m_seconds = m_timer.nsecsElapsed() / 1e9;
        QEventLoop *loop = m_loop;
        m_loop = nullptr;
        loop->exit(0);
        return;
    }
    refill();
}
