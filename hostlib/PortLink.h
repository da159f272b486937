#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

class LinkMonitor;
class LogReceiver;
class Plugin_Com_Port;
class PortCloser;
class PortReader;
class PortWriter;

// One open port with what relays through it: its reader, writer, link
// monitor and closer, and the orderly way down: hand over what waits, close,
// wait until the link is really closed.
class PortLink : public QObject
{
    Q_OBJECT
public:
    PortLink(Plugin_Com_Port *port, const QString &label, LogReceiver *log, QObject *parent = nullptr);

    Plugin_Com_Port *port() const { return m_port; }
    QString label() const { return m_label; }
    PortReader *reader() const { return m_reader; }
    PortWriter *writer() const { return m_writer; }
    LinkMonitor *monitor() const { return m_monitor; }
    bool usesFrames() const;

    // Hands over what is still waiting (for at most flushMs; the rest is
    // reported and dropped), then closes the port and waits at most closeMs
    // for the link to go. down() follows, also when the link had already
    // closed by itself.
    void shutdown(int flushMs, int closeMs);
    // Drops what waits and closes without waiting.
    void closeAtOnce();
    bool isShuttingDown() const { return m_shuttingDown; }
    bool isDown() const { return m_down; }

    // Drops what waits for the port, with a warning naming the count.
    void dropPending();

signals:
    void down();

private:
    void onDrained();
    void startClose();
    void markDown();

    Plugin_Com_Port *m_port;
    QString m_label;
    PortReader *m_reader;
    PortWriter *m_writer;
    LinkMonitor *m_monitor;
    PortCloser *m_closer;
    QTimer m_flushDeadline;
    int m_closeMs = 0;
    bool m_shuttingDown = false;
    bool m_closeStarted = false;
    bool m_down = false;
};
