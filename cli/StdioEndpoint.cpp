#include "cli/StdioEndpoint.h"

#include "hostlib/CandumpReplay.h"
#include "cli/OutputFormat.h"
#include "cli/ProgressLine.h"
#include "cli/SessionLog.h"
#include "cli/Terminal.h"
#include "hostlib/LogReceiver.h"

StdioEndpoint::StdioEndpoint(const Options &options, OutputFormat *format, SessionLog *log, QObject *parent)
    : Endpoint(parent), m_options(options), m_format(format), m_log(log), m_codec(options.input), m_stdin(0)
{
    // Each read of standard input becomes one write, so one datagram of a
    // datagram port.
    m_stdin.setChunkSize(options.chunkSize);
    connect(&m_stdin, &StdinReader::dataRead, this, &StdioEndpoint::onStdinData);
    connect(&m_stdin, &StdinReader::finished, this, &StdioEndpoint::onStdinFinished);
    m_pacer.setDelays(options.charDelayMs, options.lineDelayMs);
    connect(&m_pacer, &Pacer::piece, this, [this](const QByteArray &piece) {
        if (!m_down)
            emit received(piece.constData(), piece.size());
    });
    connect(&m_pacer, &Pacer::drained, this, &StdioEndpoint::onPaced);
    if (CandumpReplay *replay = options.replay) {
        connect(replay, &CandumpReplay::frameDue, this, [this](const QCanBusFrame &frame, qint64 line) {
            DataCodec::Item item;
            item.frame = frame;
            item.line = line;
            give({item}, {});
        });
        connect(replay, &CandumpReplay::finished, this, &StdioEndpoint::onStdinFinished);
    }
}

StdioEndpoint::~StdioEndpoint() = default;

void StdioEndpoint::start()
{
    if (m_down)
        return;
    if (m_options.interactive) {
        m_terminal = new Terminal(this);
        m_terminal->setLineMode(m_options.piecePerLine);
        m_terminal->setEscapeKey(m_options.escapeLetter);
        connect(m_terminal, &Terminal::lineCommand, this, &StdioEndpoint::lineCommand);
        // Acted on once what was typed before it has been given on.
        connect(m_terminal, &Terminal::quitRequested, this, [this]() { m_quit = true; });
        connect(m_terminal, &Terminal::breakRequested, this, &StdioEndpoint::breakRequested);
        connect(m_terminal, &Terminal::hexToggled, this, [this]() { m_format->setHex(!m_format->isHex()); });
        connect(m_terminal, &Terminal::echoToggled, this, [this]() {
            m_options.echo = !m_options.echo;
            LogReceiver::post(QStringLiteral("info"),
                              QStringLiteral("pcom: local echo %1").arg(m_options.echo ? "on" : "off"));
        });
        LogReceiver::post(QStringLiteral("info"), QStringLiteral("pcom: interactive; Ctrl-%1 ? lists the commands")
                                                      .arg(QChar(m_options.escapeLetter).toUpper()));
    }
    if (!m_options.init.isEmpty()) {
        if (m_log)
            m_log->sent(m_options.init);
        emit received(m_options.init.constData(), m_options.init.size());
    }
    if (m_options.progress)
        m_progress = new ProgressLine(ProgressLine::inputFileSize(), [this]() { return m_stdin.bytesRead(); }, this);
    if (m_options.replay)
        m_options.replay->start();
    else
        m_stdin.start();
}

void StdioEndpoint::pauseReading()
{
    m_readingPaused = true;
    m_stdin.pause();
    if (m_options.replay)
        m_options.replay->pause();
}

void StdioEndpoint::resumeReading()
{
    if (m_down)
        return;
    m_readingPaused = false;
    if (!m_pacer.isBusy())
        m_stdin.resume();
    if (m_options.replay)
        m_options.replay->resume();
}

void StdioEndpoint::onStdinData(const QByteArray &typed)
{
    QByteArray data = m_terminal ? m_terminal->take(typed) : typed;
    if (m_options.echo && !data.isEmpty()) {
        QByteArray echoed = data;
        show(m_options.interactive ? echoed.replace('\r', "\r\n") : echoed);
    }
    if (m_options.input == DataCodec::Raw)
        data = m_options.map.sent(data);
    QList<DataCodec::Item> items;
    QList<DataCodec::Problem> problems;
    m_codec.feed(data, &items, &problems);
    give(items, problems);
    if (m_quit)
        close();
}

void StdioEndpoint::onStdinFinished()
{
    QList<DataCodec::Item> items;
    QList<DataCodec::Problem> problems;
    m_codec.finish(&items, &problems);
    give(items, problems);
    delete m_progress;
    m_progress = nullptr;
    if (m_pacer.isBusy())
        m_endPending = true;
    else if (!m_down)
        emit inputEnded();
}

void StdioEndpoint::give(const QList<DataCodec::Item> &items, const QList<DataCodec::Problem> &problems)
{
    m_skipped += problems.size();
    for (const DataCodec::Problem &p : problems) {
        LogReceiver::post(QStringLiteral("error"),
                          QStringLiteral("input line %1: %2 (skipped)").arg(p.line).arg(p.message));
    }
    for (const DataCodec::Item &item : items) {
        if (usesFrames()) {
            if (m_log)
                m_log->sentFrame(item.frame);
            m_frameLine = item.line;
            emit frameReceived(item.frame);
            m_frameLine = 0;
        } else {
            if (m_log)
                m_log->sent(item.data);
            if (m_pacer.isPaced()) {
                m_pacer.add(item.data);
                m_stdin.pause();
            } else {
                emit received(item.data.constData(), item.data.size());
            }
        }
    }
}

// The pause after the last piece has passed.
void StdioEndpoint::onPaced()
{
    if (m_down)
        return;
    if (m_endPending)
        emit inputEnded();
    else if (!m_readingPaused)
        m_stdin.resume();
    m_endPending = false;
}

void StdioEndpoint::write(const char *data, int size)
{
    const QByteArray bytes = QByteArray::fromRawData(data, size);
    if (m_log)
        m_log->received(bytes);
    show(m_format->bytes(bytes));
}

void StdioEndpoint::writeFrame(const QCanBusFrame &frame, qint64 line)
{
    Q_UNUSED(line)
    if (m_log)
        m_log->receivedFrame(frame);
    show(m_format->frame(frame));
}

void StdioEndpoint::show(const QByteArray &text)
{
    if (m_down || text.isEmpty())
        return;
    if (!m_stdout.write(text)) {
        LogReceiver::post(QStringLiteral("error"), QStringLiteral("standard output is closed"));
        goDown(true);
    }
}

void StdioEndpoint::close(int flushMs)
{
    Q_UNUSED(flushMs)
    goDown(false);
}

void StdioEndpoint::goDown(bool failed)
{
    if (m_down)
        return;
    m_down = true;
    pauseReading();
    // The terminal is itself again before the last lines are printed.
    delete m_terminal;
    m_terminal = nullptr;
    delete m_progress;
    m_progress = nullptr;
    if (failed)
        emit lost();
    emit down();
}
