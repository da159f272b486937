#include "bench/EventWait.h"

#include "bench/Endpoint.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

bool EventWait::until(const std::function<bool()> &done, int timeoutMs)
{
    QElapsedTimer elapsed;
    elapsed.start();
    QEventLoop loop;
    QTimer tick;
    tick.setInterval(2);
    QObject::connect(&tick, &QTimer::timeout, &loop, &QEventLoop::quit);
    tick.start();
    while (!done()) {
        if (elapsed.elapsed() >= timeoutMs)
            return false;
        loop.exec();
    }
    return true;
}

bool EventWait::handshake(Endpoint *from, Endpoint *to, int timeoutMs)
{
    const char hello = 'h';
    if (from->write(&hello, 1) != 1)
        return false;
    char byte = 0;
    return until([&] { return to->read(&byte, 1) == 1; }, timeoutMs) && byte == hello;
}
