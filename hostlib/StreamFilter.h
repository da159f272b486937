#pragma once

#include <QByteArray>

// A protocol that one side of a bridge speaks around the bytes it carries
// (Telnet, say): what that side reads is decoded before it goes on, what is
// written to it is encoded first. Answers of the protocol's own go to that
// side directly.
class StreamFilter
{
public:
    virtual ~StreamFilter() = default;
    virtual QByteArray decode(const char *data, int size) = 0;
    virtual QByteArray encode(const char *data, int size) = 0;
};
