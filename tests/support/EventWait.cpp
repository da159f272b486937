#include "tests/support/EventWait.h"

#include "host/Plugin_Com_Port.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTimer>

bool EventWait::until(const std::function<bool()> &done, int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    QTimer tick;
    tick.start(5);
    QEventLoop loop;
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        loop.processEvents(QEventLoop::WaitForMoreEvents);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    return true;
}

bool EventWait::settled(const std::function<qint64()> &value, int timeoutMs)
{
    qint64 last = value();
    int quiet = 0;
    return until([&] {
        const qint64 now = value();
        quiet = now == last ? quiet + 1 : 0;
        last = now;
        return quiet >= 10;
    }, timeoutMs);
}

bool EventWait::canBus(Plugin_Com_Port *from, Plugin_Com_Port *to)
{
    int lastSent = -1;
    int lastRead = -2;
    for (char attempt = 0; attempt < 100; ++attempt) {
        if (from->writeRawData(&attempt, 1, 0x7FF) == 1)
            lastSent = attempt;
        char byte;
        unsigned int id = 0;
        until([&] {
            for (int frame = 0; frame < 200 && to->readRawData(&byte, 1, &id) == 1; ++frame) {
                if (id == 0x7FF)
                    lastRead = byte;
            }
            return lastRead == lastSent;
        }, 50);
        if (lastRead == lastSent)
            return true;
    }
    return false;
}
