#pragma once

#include <QObject>

class QSocketNotifier;

// SIGTERM, SIGINT and SIGHUP as a Qt signal: the handler only writes to a
// socket pair, and the event loop turns that into terminationRequested(),
// so that the window closes its ports and log files in order rather than
// the process dying with buffered log lines. One at a time.
class TerminationWatch : public QObject
{
    Q_OBJECT
public:
    explicit TerminationWatch(QObject *parent = nullptr);
    ~TerminationWatch() override;

signals:
    void terminationRequested(int signalNumber);

private:
    static void handler(int signalNumber);

    QSocketNotifier *m_notifier = nullptr;
    static int s_fds[2];
};
