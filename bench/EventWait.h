#pragma once

#include <functional>

class Endpoint;

// Bounded waits on the event loop for the set-up steps of a measurement.
class EventWait
{
public:
    // Runs the event loop until `done` holds or timeoutMs passed.
    static bool until(const std::function<bool()> &done, int timeoutMs);
    // One byte from `from` until `to` has read it: the path works end to end.
    static bool handshake(Endpoint *from, Endpoint *to, int timeoutMs = 5000);
};
