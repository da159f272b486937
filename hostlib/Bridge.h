#pragma once

#include "hostlib/DataCodec.h"

#include <QEventLoop>
#include <QObject>
#include <QTimer>

class PortLink;

// Relays between two open ports in both directions until either link
// closes or stop() is called; then hands over what still waits, closes the
// other port (or both) and prints the byte count of each direction, also
// every statsSeconds while it runs. Between a CAN port and a byte stream,
// frames travel as cansend lines.
class Bridge : public QObject
{
    Q_OBJECT
public:
    Bridge(PortLink *first, PortLink *second, double statsSeconds, QObject *parent = nullptr);
    ~Bridge() override;

    // Runs until both ports are down; false when a link failed.
    bool run();
    // Hands over what waits (for a short while) and closes both ports.
    void stop();
    // Closes both ports without waiting for anything.
    void abort();

    static const int flushTimeoutMs = 5000;
    static const int signalFlushMs = 2000;
    static const int closeTimeoutMs = 30000;

private:
    void forward(PortLink *from, PortLink *to, DataCodec &decoder, const QByteArray &data, quint32 frameId);
    void onLinkClosed(PortLink *side, bool closedByUs);
    void onDown();
    void printStats();

    PortLink *m_first;
    PortLink *m_second;
    DataCodec m_toFirst;
    DataCodec m_toSecond;
    QTimer m_stats;
    QEventLoop m_loop;
    bool m_failed = false;
    bool m_finished = false;
};
