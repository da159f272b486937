#pragma once

#include <QObject>

// One end of a link as the measurements see it, so that the same driver
// code runs against a plug-in port and against the raw object it wraps.
class BenchEndpoint : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

    // The count taken, or <= 0 when nothing could be taken now.
    virtual qint64 write(const char *data, qint64 len) = 0;
    // The count read (0 for an empty frame or datagram), or -1 when nothing
    // is waiting.
    virtual qint64 read(char *buffer, qint64 maxLen) = 0;

    // One byte from `from` until `to` has read it: the path works end to end.
    static bool handshake(BenchEndpoint *from, BenchEndpoint *to, int timeoutMs = 5000);

signals:
    void readyRead();
};
