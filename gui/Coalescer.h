#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <functional>

// Runs an update once for any number of requests: on the next event-loop
// turn, or, when the last run was less than the interval ago, once the
// interval is over. So a flood of data is shown at a bounded rate and leaves
// the event loop time for input, while a lone line shows at once. Nothing
// runs while nothing is requested.
class Coalescer : public QObject
{
    Q_OBJECT
public:
    Coalescer(std::function<void()> update, int intervalMs, QObject *parent);

    void request();

private:
    void run();

    std::function<void()> m_update;
    int m_interval;
    QTimer m_timer;
    QElapsedTimer m_sinceRun;
};
