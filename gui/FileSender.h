#pragma once

#include <QFile>
#include <QObject>

class PCom_LinkStatus;
class Plugin_Com_Port;

// Sends a file through a port in chunks, a burst per event-loop turn, and
// waits while the port's write backlog is large (where the port reports it),
// so that neither the window nor the memory suffers from a large file.
class FileSender : public QObject
{
    Q_OBJECT
public:
    FileSender(Plugin_Com_Port *port, QObject *parent = nullptr);

    // False, with the reason in *error, when the file cannot be read.
    bool start(const QString &fileName, QString *error);
    qint64 total() const { return m_total; }

signals:
    void progress(qint64 sent, qint64 total);
    void written(qint64 bytes);
    // error is empty when the whole file was sent.
    void finished(const QString &error);

private slots:
    void step();

private:
    void finish(const QString &error);

    Plugin_Com_Port *m_port;
    PCom_LinkStatus *m_status = nullptr;
    QFile m_file;
    qint64 m_total = 0;
    qint64 m_sent = 0;
    int m_chunk;
    bool m_queued = false;
    bool m_done = false;
};
