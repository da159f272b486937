#include "tests/stress/EventWait.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

bool waitUntil(const std::function<bool()> &done, int timeoutMs)
{
    QElapsedTimer elapsed;
    elapsed.start();
    QTimer tick;
    tick.start(20);
    QEventLoop loop;
    while (!done()) {
        if (elapsed.elapsed() >= timeoutMs)
            return false;
        loop.processEvents(QEventLoop::WaitForMoreEvents);
        // Objects released by deleteLater() go too, as under a running loop.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    return true;
}
