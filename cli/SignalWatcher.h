#pragma once

#include <QObject>

class QSocketNotifier;

// Turns SIGINT and SIGTERM into a Qt signal on the event loop (the handler
// only writes to a socket pair). Also ignores SIGPIPE, so that writes to a
// closed output report EPIPE instead of ending the process. One at a time.
class SignalWatcher : public QObject
{
    Q_OBJECT
public:
    explicit SignalWatcher(QObject *parent = nullptr);
    ~SignalWatcher() override;

    bool isValid() const { return m_notifier != nullptr; }

signals:
    void terminationRequested(int signalNumber);

private:
    static void handler(int signalNumber);
    void onActivated();

    QSocketNotifier *m_notifier = nullptr;
    static int s_fds[2];
};
