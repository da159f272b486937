#pragma once

#include "cli/StdinReader.h"
#include "cli/StdoutWriter.h"
#include "hostlib/DataCodec.h"
#include "hostlib/Endpoint.h"
#include "hostlib/NewlineMap.h"
#include "hostlib/Pacer.h"

#include <QTimer>

class CandumpReplay;
class OutputFormat;
class ProgressLine;
class SessionLog;
class Terminal;

// Standard input and output as an end of a bridge (pcom open). Each read of
// standard input is given on as one piece (raw, with the sent line-end
// translations), or one piece per line of hex digits, or one frame per
// cansend line for a CAN port (or the frames of a replayed log); with a
// character or line delay, bytes are given one by one or line by line, paced,
// while standard input waits; what it is given goes to standard output in
// the OutputFormat given. Both directions go to the session log. Lines that
// are no data are reported and skipped (itemsDropped()).
//
// In interactive mode the terminal is in raw mode and takes the Ctrl-T
// commands; Ctrl-T q closes this end, and so the bridge, in order. The end
// of standard input is inputEnded(); standard output closed is lost().
class StdioEndpoint : public Endpoint
{
    Q_OBJECT
public:
    struct Options {
        DataCodec::Mode input = DataCodec::Raw;
        bool interactive = false;   // standard input a terminal, in raw mode
        bool piecePerLine = false;  // interactive: a typed line leaves as one piece (a datagram)
        bool echo = false;          // typed or read input shown on standard output
        bool progress = false;
        NewlineMap map;             // its sent translations apply to raw input
        // The most bytes one read takes: the port's largest single write.
        int chunkSize = StdinReader::defaultChunkSize;
        // Frames from a log instead of standard input, which is not read.
        CandumpReplay *replay = nullptr;
        char escapeLetter = 't';    // Ctrl-letter is the terminal's escape key
        QByteArray init;            // given on first, once the bridge starts
        int charDelayMs = 0;        // bytes given one at a time, this far apart
        int lineDelayMs = 0;        // and this much more after each line end
    };

    // `log`: the session log, or null for none.
    StdioEndpoint(const Options &options, OutputFormat *format, SessionLog *log, QObject *parent = nullptr);
    ~StdioEndpoint() override;

    QString label() const override { return QStringLiteral("standard streams"); }
    QString sourceText() const override { return QStringLiteral("standard input"); }
    bool usesFrames() const override { return m_options.input == DataCodec::Frames; }
    void setSourceName(const QString &) override {}
    qint64 bytesHeld() const override { return m_pacer.bytesWaiting() + (m_options.replay ? 0 : m_stdin.bytesWaiting()); }
    qint64 frameLine() const override { return m_frameLine; }

    void start() override;
    void pauseReading() override;
    void resumeReading() override;
    void write(const char *data, int size) override;
    void writeFrame(const QCanBusFrame &frame, qint64 line = 0) override;
    // Standard output is written through before write() returns.
    bool isFull() const override { return false; }
    qint64 bytesDelivered() const override { return m_stdout.bytesWritten(); }
    qint64 itemsDropped() const override { return m_skipped; }
    void finishWriting() override { emit writeDone(); }
    // Nothing waits here, so there is nothing to flush.
    void close(int flushMs = -1) override;
    void abort() override { close(); }
    bool isClosing() const override { return m_down; }
    bool isDown() const override { return m_down; }
    bool endedInOrder() const override { return !m_stdout.failed(); }

signals:
    // Ctrl-T b.
    void breakRequested();
    // Ctrl-T d, r, D, R, m, l, s: see Terminal::lineCommand().
    void lineCommand(char key);

private:
    void onStdinData(const QByteArray &typed);
    void onStdinFinished();
    void give(const QList<DataCodec::Item> &items, const QList<DataCodec::Problem> &problems);
    void show(const QByteArray &text);
    void onPaced();
    void goDown(bool failed);

    Options m_options;
    OutputFormat *m_format;
    SessionLog *m_log;
    DataCodec m_codec;
    StdinReader m_stdin;
    StdoutWriter m_stdout;
    Terminal *m_terminal = nullptr;
    ProgressLine *m_progress = nullptr;
    Pacer m_pacer;
    bool m_readingPaused = false;
    bool m_endPending = false;
    qint64 m_skipped = 0;
    qint64 m_frameLine = 0;
    bool m_quit = false;
    bool m_down = false;
};
