#include "bench/Endpoint.h"

#include "tests/support/EventWait.h"

bool Endpoint::handshake(Endpoint *from, Endpoint *to, int timeoutMs)
{
    const char hello = 'h';
    if (from->write(&hello, 1) != 1)
        return false;
    char byte = 0;
    return EventWait::until([&] { return to->read(&byte, 1) == 1; }, timeoutMs) && byte == hello;
}
