#pragma once

#include "hostlib/DataCodec.h"

#include <QEventLoop>
#include <QObject>
#include <QTimer>

#include <functional>

class Endpoint;
class StreamFilter;

// Moves data between two ends (ports, standard streams, the desktop's
// terminal) in both directions. Each end is read only while the other end's
// backlog is under its bound, so memory stays bounded whatever the speeds.
// What an end takes nothing of (a TCP server without clients) is dropped
// and counted, or up to holdBytes of it is held for the next client.
//
// When one end goes down in order, the other is closed in order once what
// it was given has left, so that its peer sees the same end; when one is
// lost, the other is closed the same way and the run counts as failed. When
// an end's input ends (standard input at its end), the other end finishes
// writing (a TCP half-close) and, once that is done, the bridge stops when
// nothing came for the linger time. stop() closes both in order (for a
// short while), abort() at once. The byte counts of each direction
// (delivered, and dropped if any) are printed at the end and every
// statsSeconds. Between a CAN end and a byte stream, frames travel as
// cansend lines; a line that is no frame is reported and skipped.
class Bridge : public QObject
{
    Q_OBJECT
public:
    Bridge(Endpoint *first, Endpoint *second, double statsSeconds, qint64 holdBytes = 0, QObject *parent = nullptr);
    ~Bridge() override;

    // Runs until both ports are down; true when both links ended in order
    // with every byte that one side took written out by the other, and no
    // line or frame was skipped (their count is printed).
    bool run();
    // The same without an event loop of its own (several bridges in one
    // process): finished() tells the outcome.
    void start();
    bool isFinished() const { return m_finished; }
    // Hands over what waits (for at most flushMs) and closes both ports.
    void stop(int flushMs);
    void abort();
    // A protocol spoken on `side` around the relayed bytes (before run()).
    void setFilter(Endpoint *side, StreamFilter *filter);
    // How long the bridge goes on after an end's input ended and the other
    // end has written everything: until nothing came for this long.
    void setLingerMs(int ms) { m_linger.setInterval(ms); }
    // Whether the statistics are printed at the end (not for pcom open).
    void setFinalStats(bool print) { m_finalStats = print; }
    // Lines or frames that were skipped on the way, of both directions.
    qint64 skipped() const;
    // How their count is said at the end, with %1 for the count.
    void setSkippedText(const QString &text) { m_skippedText = text; }
    // Runs first each time the counts are printed (the clients of a server
    // side, say).
    void setStatsHook(std::function<void()> hook) { m_statsHook = std::move(hook); }

signals:
    void finished(bool ok);

private:
    void finish();
    void forward(Endpoint *from, Endpoint *to, DataCodec &decoder, const char *data, int size);
    void forwardFrame(Endpoint *from, Endpoint *to, const QCanBusFrame &frame);
    void onLost(Endpoint *side);
    void onInputEnded(Endpoint *side);
    void onDown();
    void printStats();
    Endpoint *otherOf(const Endpoint *side) const { return side == m_first ? m_second : m_first; }

    Endpoint *m_first;
    Endpoint *m_second;
    DataCodec m_toFirst;
    DataCodec m_toSecond;
    QTimer m_stats;
    // Runs once an end's input ended and the other end wrote everything.
    QTimer m_linger;
    Endpoint *m_lingering = nullptr;
    bool m_finalStats = true;
    QEventLoop m_loop;
    bool m_finished = false;
    bool m_ok = false;
    qint64 m_skippedLines = 0;
    QString m_skippedText = QStringLiteral("%1 lines or frames were skipped");
    Endpoint *m_filtered = nullptr;
    StreamFilter *m_filter = nullptr;
    std::function<void()> m_statsHook;
};
