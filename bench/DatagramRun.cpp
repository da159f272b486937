#include "bench/DatagramRun.h"

#include "bench/BenchEndpoint.h"

#include <QEventLoop>

#include <cstring>

namespace {
// Quiet time after which the datagrams in flight are taken as lost.
const int kStallMs = 50;
// The receiver reads as a host does that cannot know the datagram size in
// advance: into a buffer that holds the largest one.
const int kReadBuffer = 65536;
}

DatagramRun::DatagramRun(BenchEndpoint *from, BenchEndpoint *to, int datagramSize, int window)
    : m_from(from), m_to(to), m_datagram(datagramSize, 'd'), m_buffer(kReadBuffer, '\0'), m_window(window)
{
    m_stall.setSingleShot(true);
    m_stall.setInterval(kStallMs);
    connect(&m_stall, &QTimer::timeout, this, &DatagramRun::onStall);
}

DatagramRun::Result DatagramRun::run(int total, int timeoutMs)
{
    m_total = total;
    m_sent = 0;
    m_received = 0;
    m_highest = -1;
    m_base = 0;
    m_arrived = QVector<bool>(total, false);
    m_lastArrivalNs = 0;
    Result result;

    QEventLoop loop;
    m_loop = &loop;
    QTimer guard;
    guard.setSingleShot(true);
    connect(&guard, &QTimer::timeout, &loop, [&loop] { loop.exit(1); });
    const auto ready = connect(m_to, &BenchEndpoint::readyRead, this, &DatagramRun::drain);

    guard.start(timeoutMs);
    m_timer.start();
    refill();
    m_stall.start();
    const int code = loop.exec();
    m_stall.stop();
    disconnect(ready);
    m_loop = nullptr;

    result.received = m_received;
    result.lost = m_sent - m_received;
    if (code != 0) {
        result.error = QStringLiteral("timed out after %1 of %2 datagrams").arg(m_received).arg(total);
        return result;
    }
    result.ok = true;
    result.seconds = m_lastArrivalNs / 1e9;
    result.lostRanges = describeLost();
    return result;
}

void DatagramRun::refill()
{
    while (m_sent < m_total && m_sent - qMax(m_highest + 1, m_base) < m_window) {
        const quint64 sequence = quint64(m_sent);
        std::memcpy(m_datagram.data(), &sequence, sizeof sequence);
        if (m_from->write(m_datagram.constData(), m_datagram.size()) != m_datagram.size())
            return;
        ++m_sent;
    }
}

void DatagramRun::drain()
{
    if (!m_loop)
        return;
    bool progress = false;
    qint64 count;
    while ((count = m_to->read(m_buffer.data(), m_buffer.size())) >= 0) {
        quint64 sequence = 0;
        if (count < qint64(sizeof sequence))
            continue;
        std::memcpy(&sequence, m_buffer.constData(), sizeof sequence);
        if (sequence >= quint64(m_total) || m_arrived[int(sequence)])
            continue;
        m_arrived[int(sequence)] = true;
        ++m_received;
        m_highest = qMax(m_highest, qint64(sequence));
        progress = true;
    }
    if (!progress)
        return;
    m_lastArrivalNs = m_timer.nsecsElapsed();
    if (m_received == m_total || m_highest == m_total - 1) {
        finish();
        return;
    }
    m_stall.start();
    refill();
}

void DatagramRun::onStall()
{
    if (!m_loop)
        return;
    if (m_sent == m_total) {
        finish();
        return;
    }
    m_base = m_sent;
    refill();
    m_stall.start();
}

void DatagramRun::finish()
{
    m_stall.stop();
    QEventLoop *loop = m_loop;
    m_loop = nullptr;
    loop->exit(0);
}

QString DatagramRun::describeLost() const
{
    QStringList ranges;
    int shown = 0;
    for (int i = 0; i < m_total && shown < 5;) {
        if (m_arrived[i]) {
            ++i;
            continue;
        }
        int j = i;
        while (j + 1 < m_total && !m_arrived[j + 1])
            ++j;
        ranges.append(i == j ? QString::number(i) : QStringLiteral("%1-%2").arg(i).arg(j));
        ++shown;
        i = j + 1;
    }
    if (shown == 5)
        ranges.append(QStringLiteral("..."));
    return ranges.join(QStringLiteral(", "));
}
