#pragma once

#include <QByteArray>

// A protocol that one side of a bridge speaks around the bytes it carries
// (Telnet, say): what that side reads is decoded before it goes on, what is
// written to it is encoded first. Answers of the protocol's own go to that
// side directly. On a side with served clients, decode() gets one client's
// bytes at a time, and the side's reader says whose (PortReader::client()):
// a protocol with state per connection keeps it per client.
class StreamFilter
{
public:
    virtual ~StreamFilter() = default;
    virtual QByteArray decode(const char *data, int size) = 0;
    virtual QByteArray encode(const char *data, int size) = 0;
};
