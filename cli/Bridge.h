#pragma once

#include "cli/InputDecoder.h"

#include <QEventLoop>
#include <QObject>
#include <QTimer>

class PortLink;
class SignalWatcher;

// Relays between two open ports in both directions until either link
// closes or SIGINT/SIGTERM; then hands over what still waits, closes the
// other port (or both) and prints the byte count of each direction, also
// every statsSeconds while it runs. Between a CAN port and a byte stream,
// frames travel as cansend lines.
class Bridge : public QObject
{
    Q_OBJECT
public:
    Bridge(PortLink *first, PortLink *second, double statsSeconds, QObject *parent = nullptr);
    ~Bridge() override;

    // Runs until both ports are down; returns the exit status.
    int run();

    static const int flushTimeoutMs = 5000;
    static const int signalFlushMs = 2000;
    static const int closeTimeoutMs = 30000;

private:
    void forward(PortLink *from, PortLink *to, InputDecoder &decoder, const QByteArray &data, quint32 frameId);
    void onLinkClosed(PortLink *side, bool closedByUs);
    void onSignal(int signalNumber);
    void onDown();
    void printStats();

    PortLink *m_first;
    PortLink *m_second;
    InputDecoder m_toFirst;
    InputDecoder m_toSecond;
    SignalWatcher *m_signals;
    QTimer m_stats;
    QEventLoop m_loop;
    int m_exitCode = 0;
    int m_signalCount = 0;
    bool m_finished = false;
};
