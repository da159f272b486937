#include "cli/StdioRelay.h"

#include "cli/ExitCode.h"
#include "cli/OutputFormat.h"
#include "cli/ProgressLine.h"
#include "cli/SerialOptions.h"
#include "cli/SessionLog.h"
#include "cli/StdinReader.h"
#include "cli/Terminal.h"
#include "host/Plugin_Com_Port.h"
#include "hostlib/LogReceiver.h"
#include "hostlib/PortLink.h"
#include "hostlib/PortReader.h"
#include "hostlib/PortWriter.h"

StdioRelay::StdioRelay(PortLink *link, const Options &options, OutputFormat *format, SessionLog *log,
                       QObject *parent)
    : QObject(parent),
      m_link(link),
      m_options(options),
      m_format(format),
      m_log(log),
      m_codec(options.input),
      m_stdin(new StdinReader(0, this))
{
    m_link->setSourceName(QStringLiteral("standard input"));
    m_link->setSourceWaiting([this]() { return m_stdin->bytesWaiting(); });
    // Each read of standard input becomes one write, so one datagram of a
    // datagram port.
    m_stdin->setChunkSize(m_link->maxWriteSize());
    m_linger.setSingleShot(true);
    connect(&m_linger, &QTimer::timeout, this, [this]() { m_link->close(); });
    m_timeout.setSingleShot(true);
    connect(&m_timeout, &QTimer::timeout, this, [this]() {
        LogReceiver::post(QStringLiteral("info"), QStringLiteral("pcom: the total time of %1 s has passed")
                                                      .arg(m_options.timeoutSeconds));
        stop(-1);
    });
    connect(m_stdin, &StdinReader::dataRead, this, &StdioRelay::onStdinData);
    connect(m_stdin, &StdinReader::finished, this, &StdioRelay::onStdinFinished);
    connect(m_link->reader(), &PortReader::received, this, &StdioRelay::onReceived);
    connect(m_link->reader(), &PortReader::frameReceived, this, &StdioRelay::onFrameReceived);
    connect(m_link->writer(), &PortWriter::backlogLow, this, [this]() {
        if (!m_link->isClosing())
            m_stdin->resume();
    });
    connect(m_link, &PortLink::writeDone, this, &StdioRelay::startLinger);
    connect(m_link, &PortLink::lost, this, [this]() { m_stdin->pause(); });
    connect(m_link, &PortLink::down, this, &StdioRelay::finish);
}

StdioRelay::~StdioRelay() = default;

int StdioRelay::run()
{
    if (m_options.interactive) {
        m_terminal = new Terminal(this);
        connect(m_terminal, &Terminal::quitRequested, this, [this]() { stop(-1); });
        connect(m_terminal, &Terminal::breakRequested, this, [this]() {
            if (SerialOptions::sendBreak(m_link->port(), 250))
                LogReceiver::post(QStringLiteral("info"), QStringLiteral("pcom: break sent"));
        });
        connect(m_terminal, &Terminal::hexToggled, this, [this]() { m_format->setHex(!m_format->isHex()); });
        connect(m_terminal, &Terminal::echoToggled, this, [this]() {
            m_options.echo = !m_options.echo;
            LogReceiver::post(QStringLiteral("info"),
                              QStringLiteral("pcom: local echo %1").arg(m_options.echo ? "on" : "off"));
        });
        LogReceiver::post(QStringLiteral("info"), QStringLiteral("pcom: interactive; Ctrl-T ? lists the commands"));
    }
    if (m_options.progress)
        m_progress = new ProgressLine(ProgressLine::inputFileSize(), [this]() { return m_stdin->bytesRead(); }, this);
    if (m_options.timeoutSeconds > 0)
        m_timeout.start(int(m_options.timeoutSeconds * 1000));
    m_link->start();
    m_stdin->start();
    if (!m_link->isDown())
        m_loop.exec();
    delete m_terminal;
    m_terminal = nullptr;
    delete m_progress;
    m_progress = nullptr;
    const qint64 skipped = m_skipped + m_link->writer()->framesDropped();
    if (skipped > 0) {
        LogReceiver::post(QStringLiteral("error"),
                          QStringLiteral("%1 input lines or frames were skipped").arg(skipped));
    }
    return m_link->endedInOrder() && !m_stdoutFailed && skipped == 0 ? ExitCode::Ok : ExitCode::LinkFailure;
}

void StdioRelay::onStdinData(const QByteArray &typed)
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
    queueItems(items, problems);
    if (m_link->writer()->isFull())
        m_stdin->pause();
}

void StdioRelay::onStdinFinished()
{
    QList<DataCodec::Item> items;
    QList<DataCodec::Problem> problems;
    m_codec.finish(&items, &problems);
    queueItems(items, problems);
    delete m_progress;
    m_progress = nullptr;
    m_link->finishWriting();
}

void StdioRelay::queueItems(const QList<DataCodec::Item> &items, const QList<DataCodec::Problem> &problems)
{
    m_skipped += problems.size();
    for (const DataCodec::Problem &p : problems) {
        LogReceiver::post(QStringLiteral("error"),
                          QStringLiteral("input line %1: %2 (skipped)").arg(p.line).arg(p.message));
    }
    PortWriter *writer = m_link->writer();
    for (const DataCodec::Item &item : items) {
        if (m_link->usesFrames()) {
            m_log->sentFrame(item.frame);
            writer->writeFrame(item.frame, item.line);
        } else {
            m_log->sent(item.data);
            writer->write(item.data.constData(), item.data.size());
        }
    }
}

void StdioRelay::onReceived(const char *data, int size)
{
    const QByteArray bytes = QByteArray::fromRawData(data, size);
    m_log->received(bytes);
    show(m_format->bytes(bytes));
}

void StdioRelay::onFrameReceived(const QCanBusFrame &frame)
{
    m_log->receivedFrame(frame);
    show(m_format->frame(frame));
}

void StdioRelay::show(const QByteArray &text)
{
    if (m_lingering)
        m_linger.start(int(m_options.quietSeconds * 1000));
    if (m_stdoutFailed || text.isEmpty())
        return;
    if (!m_stdout.write(text)) {
        LogReceiver::post(QStringLiteral("error"), QStringLiteral("standard output is closed"));
        m_stdoutFailed = true;
        m_stdin->pause();
        m_link->close();
    }
}

void StdioRelay::startLinger()
{
    m_lingering = true;
    m_linger.start(int(m_options.quietSeconds * 1000));
}

void StdioRelay::stop(int flushMs)
{
    m_linger.stop();
    m_timeout.stop();
    m_stdin->pause();
    m_link->close(flushMs);
}

void StdioRelay::abort()
{
    m_link->abort();
}

void StdioRelay::finish()
{
    m_linger.stop();
    m_timeout.stop();
    m_stdin->pause();
    m_loop.quit();
}
