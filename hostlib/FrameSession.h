#pragma once

#include "hostlib/Endpoint.h"

#include <QByteArray>
#include <QCanBusFrame>
#include <QList>

// One client's protocol on a CAN end that is served as text (socketcand,
// SLCAN): what the client sends becomes frames for the bus and replies for
// the client, and each bus frame becomes what this client is sent of it
// (nothing while its protocol state says no). A session lives as long as
// its connection, so a client that stops half-way holds up nobody else.
class FrameSession
{
public:
    // What the end has carried so far, for a protocol that reports it.
    struct Counters {
        qint64 busFrames = 0;     // frames from the bus
        qint64 busBytes = 0;      // their data bytes
        qint64 clientFrames = 0;  // frames that clients sent to the bus
        qint64 clientBytes = 0;

        void countBus(const QCanBusFrame &frame)
        {
            ++busFrames;
            busBytes += frame.payload().size();
        }
    };

    // Hands on the frames that a client sent as what `end` received,
    // counted. The bridge may close `end` while it takes one.
    static void handOn(Endpoint *end, const QList<QCanBusFrame> &frames, Counters *counters)
    {
        for (const QCanBusFrame &frame : frames) {
            ++counters->clientFrames;
            counters->clientBytes += frame.payload().size();
            emit end->frameReceived(frame);
        }
    }

    virtual ~FrameSession() = default;

    // What a client is sent as it connects.
    virtual QByteArray greeting() { return QByteArray(); }
    // Takes bytes from the client, cut anywhere: appends the frames it sent
    // to *frames and returns the replies.
    virtual QByteArray take(const char *data, int size, QList<QCanBusFrame> *frames) = 0;
    // The bytes that carry a bus frame to the client, or none.
    virtual QByteArray give(const QCanBusFrame &frame) = 0;
    // The client is to be closed once the replies have left.
    virtual bool isFinished() const { return false; }
    // How often onTimer() is due (0: never); it may change after take().
    virtual int timerMs() const { return 0; }
    virtual QByteArray onTimer(const Counters &counters)
    {
        Q_UNUSED(counters)
        return QByteArray();
    }
};
