#pragma once

#include "cli/StdoutWriter.h"
#include "hostlib/DataCodec.h"

#include <QEventLoop>
#include <QObject>
#include <QTimer>

class PortLink;
class StdinReader;

// Relays standard input to an open port and what the port reads to
// standard output, until:
// - the link closes by itself (exit 0, or 1 when it failed);
// - stop(): what stdin gave is still handed over (for a short while), the
//   port is closed cleanly (exit 0); abort() closes at once;
// - standard input ends: once everything has been handed over, what
//   arrives is printed for `lingerSeconds`, or (lingerSeconds < 0) until
//   nothing arrived for quietMs; then the port is closed after what it was
//   given has left (exit 0).
class StdioRelay : public QObject
{
    Q_OBJECT
public:
    StdioRelay(PortLink *link, DataCodec::Mode mode, double lingerSeconds, QObject *parent = nullptr);
    ~StdioRelay() override;

    // Runs the relay on the open port; returns the exit status.
    int run();
    void stop();
    void abort();

    // Bytes from standard input waiting for the port before stdin is paused.
    static const qint64 maxPending = 1024 * 1024;
    static const int quietMs = 500;
    static const int flushTimeoutMs = 30000;
    static const int signalFlushMs = 2000;
    static const int closeTimeoutMs = 30000;

private:
    void onStdinData(const QByteArray &data);
    void onStdinFinished();
    void onReceived(const QByteArray &data, quint32 frameId);
    void onWriterDrained();
    void onLinkClosed(bool closedByUs);
    void queueItems(const QList<DataCodec::Item> &items, const QList<DataCodec::Problem> &problems);
    void startLinger();
    void beginClose();
    void finish(int code);

    PortLink *m_link;
    DataCodec m_codec;
    StdoutWriter m_stdout;
    double m_lingerSeconds;
    StdinReader *m_stdin;
    QTimer m_linger;
    QEventLoop m_loop;

    bool m_inputDone = false;
    bool m_lingering = false;
    bool m_finished = false;
    bool m_stopRequested = false;
    int m_exitCode = 0;
};
