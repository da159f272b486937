#pragma once

#include <QObject>
#include <QTimer>

class LogReceiver;
class PortWriter;
class Plugin_Com_Port;

// Closes a port so that what it was given still leaves, and reports when
// the link is really down:
// - a link that closes at once (serial line, CAN bus) is given the time to
//   send what the port took first;
// - a port that stays open until its socket has sent everything (the TCP
//   client) is waited for until it reads closed;
// - a server is waited for until each connection that it asked to
//   disconnect has gone (each one logs a disconnect request when asked and
//   announces a data change when it is gone).
// Gives up after timeoutMs.
class PortCloser : public QObject
{
    Q_OBJECT
public:
    PortCloser(Plugin_Com_Port *port, PortWriter *writer, LogReceiver *log, QObject *parent = nullptr);

    void close(int timeoutMs);
    bool isBusy() const { return m_busy; }
    bool timedOut() const { return m_timedOut; }

    // Time after the last write before a link that closes at once is closed.
    static const int settleMs = 100;

signals:
    void finished();

private:
    void closeNow();
    void onDataChanged();
    void onLine(const QString &kind, const QString &text);
    void onTimeout();
    void checkDone();
    void done();

    Plugin_Com_Port *m_port;
    PortWriter *m_writer;
    QTimer m_settle;
    QTimer m_deadline;
    bool m_busy = false;
    bool m_inClose = false;
    bool m_timedOut = false;
    int m_disconnectRequests = 0;
    int m_changesDuringClose = 0;
    int m_connectionsLeft = 0;
};
