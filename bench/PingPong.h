#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>

class BenchEndpoint;
class QEventLoop;

// One byte back and forth between two endpoints, a fixed number of rounds:
// the round-trip time through both ends and the event loop.
class PingPong : public QObject
{
    Q_OBJECT
public:
    struct Result
    {
        bool ok = false;
        double microsecondsPerRound = 0;
        QString error;
    };

    PingPong(BenchEndpoint *a, BenchEndpoint *b);

    Result run(int rounds, int timeoutMs);

private:
    void onA();
    void onB();

    BenchEndpoint *m_a;
    BenchEndpoint *m_b;
    int m_rounds = 0;
    int m_done = 0;
    QEventLoop *m_loop = nullptr;
    QElapsedTimer m_timer;
    double m_seconds = 0;
};
