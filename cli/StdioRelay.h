#pragma once

#include "cli/StdoutWriter.h"
#include "hostlib/DataCodec.h"

#include <QEventLoop>
#include <QObject>
#include <QTimer>

class PortLink;
class StdinReader;

// Relays standard input to an open port and what the port reads to
// standard output. Standard input is read only while the port's backlog is
// under its bound. It ends when:
// - the link ends by itself: exit 0 when its peer closed it in order with
//   every byte taken written out, otherwise 1;
// - standard input ends: once everything has left (and a TCP link's write
//   direction has ended), what arrives is printed for `lingerSeconds`, or
//   (lingerSeconds < 0) until nothing arrived for quietMs or the peer
//   closes; then the port is closed (exit 0, or 1 with the count of bytes
//   that could not be written out);
// - stop() (a signal): what waits still leaves for a short while, then the
//   port is closed; abort() closes at once.
class StdioRelay : public QObject
{
    Q_OBJECT
public:
    StdioRelay(PortLink *link, DataCodec::Mode mode, double lingerSeconds, QObject *parent = nullptr);
    ~StdioRelay() override;

    // Runs the relay on the open port; returns the exit status.
    int run();
    void stop(int flushMs);
    void abort();

    static const int quietMs = 500;

private:
    void onStdinData(const QByteArray &data);
    void onStdinFinished();
    void onReceived(const char *data, int size, quint32 frameId);
    void queueItems(const QList<DataCodec::Item> &items, const QList<DataCodec::Problem> &problems);
    void startLinger();
    void finish();

    PortLink *m_link;
    DataCodec m_codec;
    StdoutWriter m_stdout;
    double m_lingerSeconds;
    StdinReader *m_stdin;
    QTimer m_linger;
    QEventLoop m_loop;
    bool m_lingering = false;
    bool m_stdoutFailed = false;
};
