#include "bench/PingPong.h"

#include "bench/BenchEndpoint.h"

#include <QEventLoop>
#include <QTimer>

PingPong::PingPong(BenchEndpoint *a, BenchEndpoint *b) : m_a(a), m_b(b)
{
}

PingPong::Result PingPong::run(int rounds, int timeoutMs)
{
    m_rounds = rounds;
    m_done = 0;
    Result result;

    QEventLoop loop;
    m_loop = &loop;
    QTimer guard;
    guard.setSingleShot(true);
    connect(&guard, &QTimer::timeout, &loop, [&loop] { loop.exit(1); });
    const auto readyA = connect(m_a, &BenchEndpoint::readyRead, this, &PingPong::onA);
    const auto readyB = connect(m_b, &BenchEndpoint::readyRead, this, &PingPong::onB);

    guard.start(timeoutMs);
    m_timer.start();
    const char ping = 'p';
    m_a->write(&ping, 1);
    const int code = loop.exec();
    disconnect(readyA);
    disconnect(readyB);
    m_loop = nullptr;

    if (code != 0) {
        result.error = QStringLiteral("timed out after %1 of %2 rounds").arg(m_done).arg(rounds);
        return result;
    }
    result.ok = true;
    result.microsecondsPerRound = m_seconds * 1e6 / rounds;
    return result;
}

void PingPong::onB()
{
    char byte;
    while (m_b->read(&byte, 1) >= 0)
        m_b->write(&byte, 1);
}

void PingPong::onA()
{
    if (!m_loop)
        return;
    char byte;
    while (m_a->read(&byte, 1) >= 0) {
        if (++m_done == m_rounds) {
            m_seconds = m_timer.nsecsElapsed() / 1e9;
            QEventLoop *loop = m_loop;
            m_loop = nullptr;
            loop->exit(0);
            return;
        }
        m_a->write(&byte, 1);
    }
}
