#pragma once

#include <QtGlobal>

#include <functional>

class Plugin_Com_Port;

// Bounded waits on the event loop, for tests and the bench alike.
class EventWait
{
public:
    // Runs the event loop until done() holds or timeoutMs passed; objects
    // released by deleteLater() go as under a running loop. The loop sleeps
    // while no event is due; a coarse timer wakes it to look at the deadline.
    static bool until(const std::function<bool()> &done, int timeoutMs);
    // Runs the loop until `value` stayed the same over several wake-ups:
    // whatever a close or a burst left running has run.
    static bool settled(const std::function<qint64()> &value, int timeoutMs = 10000);
    // virtualcan connects in the background, and its relay drops frames for
    // a receiver it has not registered yet. Numbered probes (identifier
    // 0x7FF) go out until the last one sent has been read: then both ports
    // are on the bus and nothing is in flight.
    static bool canBus(Plugin_Com_Port *from, Plugin_Com_Port *to);
};
