#pragma once

#include "hostlib/Endpoint.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QString>
#include <QTimer>

#include <functional>

class PCom_LinkStatus;
class Plugin_Com_Port;
class PortReader;
class PortWriter;

// One open port as an end of a bridge, with what moves bytes through it (its
// reader and writer)
// and the truth about how its link ends, learnt from the port's link-status
// extension: the backlog that has still to leave, the loss of the link with
// its reason, the end of the write direction.
//
// The ways down:
// - finishWriting(): the input has ended; once everything has left, the
//   write direction is ended where the link has one (a TCP half-close) and
//   writeDone() follows; reading goes on.
// - close(): what waits still leaves, for as long as it moves (or at most
//   flushMs), then the port is closed and awaited.
// - the link is lost (peer closed, reset, device gone, ...): one line says
//   why and how many bytes were not written out; lost() follows.
// down() ends each of them. The link ended in order when it was closed, by
// us or by its peer, with nothing taken left unwritten.
class PortLink : public Endpoint
{
    Q_OBJECT
public:
    PortLink(Plugin_Com_Port *port, const QString &label, QObject *parent = nullptr);
    ~PortLink() override;

    Plugin_Com_Port *port() const { return m_port; }
    // Null for a port without the link-status companion.
    PCom_LinkStatus *status() const { return m_status; }
    QString label() const override { return m_label; }
    PortReader *reader() const { return m_reader; }
    PortWriter *writer() const { return m_writer; }
    bool usesFrames() const override { return m_frames; }
    // The most bytes one write may carry: what the port says one write
    // carries as one piece (a datagram), 64 KiB otherwise.
    int maxWriteSize() const { return m_maxWrite; }
    // Where the written bytes come from, for messages ("standard input").
    void setSourceName(const QString &name) override { m_source = name; }
    // How many bytes the source holds ready for the link but has not given
    // yet: a link that its peer ends while some wait did not take them all.
    void setSourceWaiting(std::function<qint64()> bytesWaiting) override { m_sourceWaiting = std::move(bytesWaiting); }

    // With keepOnLoss, a lost link is not the end: what waits for it is
    // dropped and counted, interrupted() follows, and whatever arrives for
    // it is dropped and counted (as for a server without clients) until
    // the owner has opened the port again and calls resumeAfterReopen().
    void setKeepOnLoss(bool keep) { m_keepOnLoss = keep; }
    bool isInterrupted() const { return m_interrupted; }
    // Also cancels a suspension under way.
    void resumeAfterReopen();
    // The owner closes the port for a while (nobody needs the line): what it
    // read is handed on, what waits for it still leaves (for at most
    // flushMs; the rest is dropped and counted), then the port is closed and
    // the link is away as after a loss, without interrupted(), until
    // resumeAfterReopen(). On a port not opened yet, the link begins away.
    void suspend(int flushMs);

    // A link still opening (a connection not yet up) that many milliseconds
    // after start() is aborted and counts as lost; 0 waits as long as the
    // link does. Set before start().
    void setConnectTimeout(int ms) { m_connectTimeoutMs = ms; }

    // Begins on the opened port: what arrived while it opened is read.
    void start() override;
    void pauseReading() override;
    void resumeReading() override;
    void write(const char *data, int size) override;
    void writeFrame(const QCanBusFrame &frame, qint64 line = 0) override;
    bool isFull() const override;
    void setHoldLimit(qint64 bytes) override;
    qint64 bytesDelivered() const override;
    qint64 bytesDropped() const override;
    qint64 itemsDropped() const override;
    void finishWriting() override;
    void close(int flushMs = -1) override;
    // Closes at once; what waits is reported as not written out.
    void abort() override;

    bool isClosing() const override { return m_phase >= Phase::Flushing; }
    bool isDown() const override { return m_phase == Phase::Down; }
    bool endedInOrder() const override
    {
        return !m_failed && m_leftOver == 0 && m_waitingAtEnd == 0 && m_refused == 0;
    }
    // Bytes taken but not written out when the link ended.
    qint64 leftOver() const { return m_leftOver; }

    // How long a backlog may stand still before it is given up.
    static const int stallMs = 10000;
    // How long a closed port may take to read closed.
    static const int closeTimeoutMs = 5000;
    // The most each port reads ahead of the host.
    static const qint64 readBufferSize = 256 * 1024;

signals:
    void interrupted(const QString &reason);
    // The link is back after an interruption.
    void resumed();

private:
    void onLinkLost(const QString &reason);
    void onWriteFinished();
    void onConnectTimeout();
    void onRefused(const QString &destination, const QString &reason);
    enum class Phase { Running, Flushing, Closing, Down };

    bool isClosed() const;
    void onDataChanged();
    void onProgress();
    void checkFinish();
    void checkFlush();
    void onStall();
    void interrupt(const QString &reason);
    void checkSuspend();
    void closePort();
    void beginClosing();
    void closeNow();
    void giveUp(const QString &why);
    void markDown();
    QString notWrittenText(qint64 left) const;

    Plugin_Com_Port *m_port;
    PCom_LinkStatus *m_status;
    QString m_label;
    QString m_source;
    bool m_frames;
    int m_maxWrite = 64 * 1024;
    PortReader *m_reader;
    PortWriter *m_writer;
    Phase m_phase = Phase::Running;
    bool m_started = false;
    bool m_finishing = false;
    bool m_writeClosed = false;
    bool m_writeDone = false;
    bool m_failed = false;
    bool m_deadlineHard = false;
    bool m_abortLink = false;
    bool m_keepOnLoss = false;
    bool m_interrupted = false;
    bool m_suspending = false;
    QTimer m_suspendDeadline;
    qint64 m_leftOver = 0;
    // Datagrams that the network turned back.
    qint64 m_refused = 0;
    QElapsedTimer m_refusalTold;
    qint64 m_waitingAtEnd = 0;
    std::function<qint64()> m_sourceWaiting;
    QTimer m_stall;
    QTimer m_closeDeadline;
    // When a close with a deadline must be over.
    QDeadlineTimer m_hardDeadline;
    QTimer m_openPoll;
    int m_connectTimeoutMs = 0;
    QTimer m_connectDeadline;
};
