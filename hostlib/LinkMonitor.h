#pragma once

#include <QObject>
#include <QString>

class LogReceiver;
class Plugin_Com_Port;

// Watches an open port for the moment its link closes, and judges from the
// log lines since it opened whether the link failed (refused, host not
// found, bind failure, ...) or was closed in an orderly way. Only the port's
// own interface and its log lines are used: a network client port announces
// its failure as an error line and then drops to closed.
class LinkMonitor : public QObject
{
    Q_OBJECT
public:
    LinkMonitor(Plugin_Com_Port *port, LogReceiver *log, QObject *parent = nullptr);

    // Starts watching; the failure record starts empty.
    void start();
    // We close the link ourselves from now on.
    void setClosing() { m_closing = true; }
    bool isClosing() const { return m_closing; }
    bool isClosed() const { return m_closed; }

    // An error line since start() that is no orderly close by the peer.
    bool failed() const { return !m_failure.isEmpty(); }
    QString failure() const { return m_failure; }

    // The error texts with which the ports report that the peer closed.
    static bool isOrderlyClose(const QString &text);

signals:
    // The port reads closed; closedByUs tells whether we asked for it.
    void linkClosed(bool closedByUs);

private:
    void onDataChanged();
    void onLine(const QString &kind, const QString &text);

    Plugin_Com_Port *m_port;
    bool m_watching = false;
    bool m_closing = false;
    bool m_closed = false;
    QString m_failure;
};
