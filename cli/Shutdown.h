#pragma once

#include <QObject>

class QSocketNotifier;

// How pcom is asked to end: SIGINT or SIGTERM once asks for an orderly
// stop (what was taken is still delivered, for a bounded time), a second
// one for an immediate stop. The handler only writes to a socket pair; the
// event loop turns that into the Qt signals. Also ignores SIGPIPE, so that
// writes to a closed output report EPIPE instead of ending the process.
// One at a time.
class Shutdown : public QObject
{
    Q_OBJECT
public:
    explicit Shutdown(QObject *parent = nullptr);
    ~Shutdown() override;

    // SIGHUP asks for reloadRequested() from now on (pcom serve).
    void watchHangup();

    // Whether a signal asked for the stop.
    bool requested() const { return m_count > 0; }

    // What an orderly stop on a signal still waits for the backlog.
    static const int signalFlushMs = 2000;
    // What an orderly stop at the end of --timeout still waits.
    static const int timeoutFlushMs = 250;

signals:
    void stopRequested();
    void abortRequested();
    void reloadRequested();

private:
    static void handler(int signalNumber);
    void onActivated();

    QSocketNotifier *m_notifier = nullptr;
    int m_count = 0;
    bool m_hangup = false;
    static int s_fds[2];
};
