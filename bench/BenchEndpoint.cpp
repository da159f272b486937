#include "bench/BenchEndpoint.h"

#include "tests/support/EventWait.h"

bool BenchEndpoint::handshake(BenchEndpoint *from, BenchEndpoint *to, int timeoutMs)
{
    const char hello = 'h';
    if (from->write(&hello, 1) != 1)
        return false;
    char byte = 0;
    return EventWait::until([&] { return to->read(&byte, 1) == 1; }, timeoutMs) && byte == hello;
}
