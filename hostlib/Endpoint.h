#pragma once

#include <QCanBusFrame>
#include <QObject>
#include <QString>

#include <functional>

// One end that moves data, as a Bridge sees it: a plug-in port (PortLink),
// standard input and output, the desktop's terminal, one served client.
// Data comes out of it through received() (bytes) or frameReceived() (CAN
// frames, for an end that usesFrames()), and goes into it through write()
// and writeFrame(). `data` of received() is valid during the emission only.
//
// Back-pressure: a producer stops feeding an end while isFull() and goes on
// at backlogLow(); an end stops producing while paused. So memory stays
// bounded whatever the speeds of the two ends.
//
// The ways down: finishWriting() when what feeds it has ended (a TCP
// half-close once everything left; writeDone() follows), close() in order
// (what waits still leaves, for at most flushMs), abort() at once. An end
// whose own input ends in order says inputEnded(); one that ends by itself
// says lost() when that lost data or failed; down() ends each way.
class Endpoint : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

    // Names the end in messages ("tcpServer", "standard input").
    virtual QString label() const = 0;
    // Whether the end takes and gives CAN frames rather than bytes.
    virtual bool usesFrames() const = 0;
    // Where what is written comes from, for messages ("the tcpServer link").
    virtual void setSourceName(const QString &name) = 0;
    // How this end is named as the source of what another end writes.
    virtual QString sourceText() const { return QStringLiteral("the %1 link").arg(label()); }
    // How many bytes the source holds ready for this end but has not given
    // yet: an end that its peer ends while some wait did not take them all.
    virtual void setSourceWaiting(std::function<qint64()> bytesWaiting) { Q_UNUSED(bytesWaiting) }
    // Bytes this end read but has not handed on yet (its input's buffer).
    virtual qint64 bytesHeld() const { return 0; }
    // The input line of the frame that frameReceived() gives now (0: none),
    // for the messages of the end that takes it.
    virtual qint64 frameLine() const { return 0; }

    virtual void start() = 0;
    virtual void pauseReading() = 0;
    virtual void resumeReading() = 0;

    virtual void write(const char *data, int size) = 0;
    // `line` names the input line of the frame in messages (0: none).
    virtual void writeFrame(const QCanBusFrame &frame, qint64 line = 0) = 0;
    virtual bool isFull() const = 0;
    // What an end that takes nothing now (a server without clients) keeps
    // for later: everything (-1, the default), nothing, or at most `bytes`.
    virtual void setHoldLimit(qint64 bytes) { Q_UNUSED(bytes) }
    virtual qint64 bytesDelivered() const = 0;
    virtual qint64 bytesDropped() const { return 0; }
    // Frames or lines that it could not carry.
    virtual qint64 itemsDropped() const { return 0; }

    virtual void finishWriting() = 0;
    virtual void close(int flushMs = -1) = 0;
    virtual void abort() = 0;
    virtual bool isClosing() const = 0;
    virtual bool isDown() const = 0;
    // Closed by us or by its peer, with nothing taken left unwritten.
    virtual bool endedInOrder() const = 0;

signals:
    void received(const char *data, int size);
    void frameReceived(const QCanBusFrame &frame);
    void backlogLow();
    void inputEnded();
    void writeDone();
    void lost();
    void down();
};
