#pragma once

#include "hostlib/DataCodec.h"

#include <QEventLoop>
#include <QObject>
#include <QTimer>

#include <functional>

class PortLink;
class StreamFilter;

// Relays between two open ports in both directions. Each side is read only
// while the other side's backlog is under its bound, so memory stays
// bounded whatever the speeds. What a side takes nothing of (a TCP server
// without clients) is dropped and counted, or up to holdBytes of it is held
// for the next client.
//
// When one link ends in order, the other is closed in order once what it
// was given has left, so that its peer sees the same end; when one is lost,
// the other is closed the same way and the run counts as failed. stop()
// closes both in order (for a short while), abort() at once. The byte
// counts of each direction (delivered, and dropped if any) are printed at
// the end and every statsSeconds. Between a CAN port and a byte stream,
// frames travel as cansend lines; a line that is no frame is reported and
// skipped.
class Bridge : public QObject
{
    Q_OBJECT
public:
    Bridge(PortLink *first, PortLink *second, double statsSeconds, qint64 holdBytes = 0, QObject *parent = nullptr);
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
    void setFilter(PortLink *side, StreamFilter *filter);
    // Runs first each time the counts are printed (the clients of a server
    // side, say).
    void setStatsHook(std::function<void()> hook) { m_statsHook = std::move(hook); }

signals:
    void finished(bool ok);

private:
    void finish();
    void forward(PortLink *from, PortLink *to, DataCodec &decoder, const char *data, int size);
    void forwardFrame(PortLink *from, PortLink *to, const QCanBusFrame &frame);
    void onLost(PortLink *side);
    void onDown();
    void printStats();

    PortLink *m_first;
    PortLink *m_second;
    DataCodec m_toFirst;
    DataCodec m_toSecond;
    QTimer m_stats;
    QEventLoop m_loop;
    bool m_finished = false;
    bool m_ok = false;
    qint64 m_skippedLines = 0;
    PortLink *m_filtered = nullptr;
    StreamFilter *m_filter = nullptr;
    std::function<void()> m_statsHook;
};
