#pragma once

#include <QObject>
#include <QTimer>

#include <functional>

class PortLink;

// Brings a lost link back: when its PortLink reports the link interrupted,
// the port is closed and opened again after a pause that doubles from
// firstPauseMs up to the longest pause given, try after try, until the
// link is open (then relaying goes on) or the PortLink is being closed.
// Each try is logged at progress level. `reopen` opens the closed port (and
// applies what the link needs once open); a link that comes up later, such
// as a TCP connection, counts as back once the port reads as open, and as
// failed when the port reports it lost or it is not up within `tryMs` (the
// connect timeout of the run, where it has one).
class Reconnector : public QObject
{
    Q_OBJECT
public:
    Reconnector(PortLink *link, std::function<bool()> reopen, double longestPauseSeconds, int tryMs = defaultTryMs,
                QObject *parent = nullptr);

    int tries() const { return m_tries; }

    static constexpr int firstPauseMs = 250;
    static constexpr int defaultTryMs = 10000;
    // A connection that comes up is announced by no signal: polled.
    static constexpr int pollMs = 50;

private:
    void onTryLost();

private:
    void onInterrupted();
    void tryNow();
    void check();
    void failed();
    void scheduleNext();

    PortLink *m_link;
    std::function<bool()> m_reopen;
    int m_longestPauseMs;
    int m_tryMs;
    int m_pauseMs = firstPauseMs;
    int m_tries = 0;
    bool m_trying = false;
    qint64 m_droppedBefore = 0;
    QTimer m_pause;
    QTimer m_tryDeadline;
    QTimer m_poll;
};
