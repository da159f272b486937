#pragma once

#include "cli/InputDecoder.h"
#include "cli/OutputEncoder.h"
#include "cli/StdoutWriter.h"

#include <QEventLoop>
#include <QObject>
#include <QTimer>

class PortLink;
class SignalWatcher;
class StdinReader;

// Relays standard input to an open port and what the port reads to
// standard output, until:
// - the link closes by itself (exit 0, or 1 when it failed);
// - SIGINT or SIGTERM: what stdin gave is still handed over (for a short
//   while), the port is closed cleanly (exit 0; a second signal stops at
//   once);
// - standard input ends: once everything has been handed over, what
//   arrives is printed for `lingerSeconds`, or (lingerSeconds < 0) until
//   nothing arrived for quietMs; then the port is closed after what it was
//   given has left (exit 0).
class StdioRelay : public QObject
{
    Q_OBJECT
public:
    StdioRelay(PortLink *link, InputDecoder::Mode input, OutputEncoder::Mode output, double lingerSeconds,
               QObject *parent = nullptr);
    ~StdioRelay() override;

    // Runs the relay on the open port; returns the exit status.
    int run();

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
    void onSignal(int signalNumber);
    void queueItems(const QList<InputDecoder::Item> &items, const QList<InputDecoder::Problem> &problems);
    void startLinger();
    void beginClose();
    void finish(int code);

    PortLink *m_link;
    InputDecoder m_decoder;
    OutputEncoder m_encoder;
    StdoutWriter m_stdout;
    double m_lingerSeconds;
    StdinReader *m_stdin;
    SignalWatcher *m_signals;
    QTimer m_linger;
    QEventLoop m_loop;

    bool m_inputDone = false;
    bool m_lingering = false;
    bool m_finished = false;
    int m_signalCount = 0;
    int m_exitCode = 0;
};
