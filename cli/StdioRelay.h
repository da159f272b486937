#pragma once

#include "cli/StdoutWriter.h"
#include "hostlib/DataCodec.h"
#include "hostlib/NewlineMap.h"

#include <QCanBusFrame>
#include <QEventLoop>
#include <QObject>
#include <QTimer>

class OutputFormat;
class PortLink;
class ProgressLine;
class SessionLog;
class StdinReader;
class Terminal;

// Relays standard input to an open port and what the port reads to
// standard output (in the OutputFormat given, and to the session log if
// one is open). Standard input is read only while the port's backlog is
// under its bound. It ends when:
// - the link ends by itself: exit 0 when its peer closed it in order with
//   every byte taken written out, otherwise 1;
// - standard input ends: once everything has left (and a TCP link's write
//   direction has ended), what arrives is printed until nothing arrived for
//   the quiet time or the peer closes; then the port is closed (exit 0, or
//   1 with the count of bytes that could not be written out);
// - the total time (--timeout) has passed, or Ctrl-T q in interactive mode:
//   the port is closed in order;
// - stop() (a signal): what waits still leaves for a short while, then the
//   port is closed; abort() closes at once.
// Input lines that are no data (bad hex, no frame) and frames that the port
// did not take are reported and skipped; the exit status is then 1, with
// their count.
class StdioRelay : public QObject
{
    Q_OBJECT
public:
    struct Options {
        DataCodec::Mode input = DataCodec::Raw;
        double quietSeconds = 0.5;
        double timeoutSeconds = 0;  // 0: no total time
        bool interactive = false;   // standard input a terminal, in raw mode
        bool echo = false;          // typed or read input shown on standard output
        bool progress = false;
        NewlineMap map;             // its sent translations apply to raw input
    };

    StdioRelay(PortLink *link, const Options &options, OutputFormat *format, SessionLog *log,
               QObject *parent = nullptr);
    ~StdioRelay() override;

    // Runs the relay on the open port; returns the exit status.
    int run();
    void stop(int flushMs);
    void abort();

private:
    void onStdinData(const QByteArray &data);
    void onStdinFinished();
    void onReceived(const char *data, int size);
    void onFrameReceived(const QCanBusFrame &frame);
    void show(const QByteArray &text);
    void queueItems(const QList<DataCodec::Item> &items, const QList<DataCodec::Problem> &problems);
    void startLinger();
    void finish();

    PortLink *m_link;
    Options m_options;
    OutputFormat *m_format;
    SessionLog *m_log;
    DataCodec m_codec;
    StdoutWriter m_stdout;
    StdinReader *m_stdin;
    Terminal *m_terminal = nullptr;
    ProgressLine *m_progress = nullptr;
    QTimer m_linger;
    QTimer m_timeout;
    QEventLoop m_loop;
    bool m_lingering = false;
    bool m_stdoutFailed = false;
    qint64 m_skipped = 0;
};
