#include "cli/StdioRelay.h"

#include "cli/ExitCode.h"
#include "cli/LinkMonitor.h"
#include "cli/LogPrinter.h"
#include "cli/PortLink.h"
#include "cli/PortReader.h"
#include "cli/PortWriter.h"
#include "host/Plugin_Com_Port.h"
#include "cli/SignalWatcher.h"
#include "cli/StdinReader.h"

StdioRelay::StdioRelay(PortLink *link, InputDecoder::Mode input, OutputEncoder::Mode output,
                       double lingerSeconds, QObject *parent)
    : QObject(parent),
      m_link(link),
      m_decoder(input),
      m_encoder(output),
      m_lingerSeconds(lingerSeconds),
      m_stdin(new StdinReader(0, this)),
      m_signals(new SignalWatcher(this))
{
    m_linger.setSingleShot(true);
    connect(&m_linger, &QTimer::timeout, this, &StdioRelay::beginClose);
    connect(m_stdin, &StdinReader::dataRead, this, &StdioRelay::onStdinData);
    connect(m_stdin, &StdinReader::finished, this, &StdioRelay::onStdinFinished);
    connect(m_link->reader(), &PortReader::received, this, &StdioRelay::onReceived);
    connect(m_link->writer(), &PortWriter::drained, this, &StdioRelay::onWriterDrained);
    connect(m_link->monitor(), &LinkMonitor::linkClosed, this, &StdioRelay::onLinkClosed);
    connect(m_link, &PortLink::down, this, [this]() { finish(m_exitCode); });
    connect(m_signals, &SignalWatcher::terminationRequested, this, &StdioRelay::onSignal);
}

StdioRelay::~StdioRelay() = default;

int StdioRelay::run()
{
    m_link->monitor()->start();
    m_stdin->start();
    // Data may have arrived while the port was being opened.
    QTimer::singleShot(0, m_link->reader(), &PortReader::drain);
    return m_loop.exec();
}

void StdioRelay::onStdinData(const QByteArray &data)
{
    QList<InputDecoder::Item> items;
    QList<InputDecoder::Problem> problems;
    m_decoder.feed(data, &items, &problems);
    queueItems(items, problems);
    if (m_link->writer()->pendingBytes() > maxPending)
        m_stdin->pause();
}

void StdioRelay::onStdinFinished()
{
    QList<InputDecoder::Item> items;
    QList<InputDecoder::Problem> problems;
    m_decoder.finish(&items, &problems);
    queueItems(items, problems);
    m_inputDone = true;
    if (m_link->writer()->isIdle())
        startLinger();
}

void StdioRelay::queueItems(const QList<InputDecoder::Item> &items, const QList<InputDecoder::Problem> &problems)
{
    for (const InputDecoder::Problem &p : problems) {
        LogPrinter::print(QStringLiteral("error"),
                          QStringLiteral("input line %1: %2 (skipped)").arg(p.line).arg(p.message));
    }
    for (const InputDecoder::Item &item : items)
        m_link->writer()->enqueue(item.data, item.frameId, item.line);
}

void StdioRelay::onReceived(const QByteArray &data, quint32 frameId)
{
    if (!m_stdout.write(m_encoder.encode(data, frameId))) {
        if (m_exitCode == ExitCode::Ok)
            LogPrinter::print(QStringLiteral("error"), QStringLiteral("standard output is closed"));
        m_exitCode = ExitCode::LinkFailure;
        beginClose();
        return;
    }
    if (m_lingering && m_lingerSeconds < 0)
        m_linger.start(quietMs);
}

void StdioRelay::onWriterDrained()
{
    if (m_link->isShuttingDown())
        return;
    if (!m_inputDone)
        m_stdin->resume();
    else if (!m_lingering)
        startLinger();
}

void StdioRelay::startLinger()
{
    m_lingering = true;
    m_linger.start(m_lingerSeconds < 0 ? quietMs : int(m_lingerSeconds * 1000));
}

void StdioRelay::onLinkClosed(bool closedByUs)
{
    if (closedByUs || m_link->isShuttingDown())
        return;
    m_link->reader()->drain();
    m_link->dropPending();
    if (m_link->monitor()->failed()) {
        LogPrinter::print(QStringLiteral("error"), QStringLiteral("the %1 link failed: %2")
                                                        .arg(m_link->label(), m_link->monitor()->failure()));
        finish(ExitCode::LinkFailure);
        return;
    }
    finish(m_exitCode);
}

void StdioRelay::onSignal(int)
{
    ++m_signalCount;
    if (m_signalCount > 1) {
        // Asked twice: stop without waiting for anything.
        m_link->closeAtOnce();
        return;
    }
    beginClose();
}

void StdioRelay::beginClose()
{
    if (m_link->isShuttingDown())
        return;
    m_linger.stop();
    m_stdin->pause();
    m_link->shutdown(m_signalCount > 0 ? signalFlushMs : flushTimeoutMs, closeTimeoutMs);
}

void StdioRelay::finish(int code)
{
    if (m_finished)
        return;
    m_finished = true;
    m_linger.stop();
    m_stdin->pause();
    m_loop.exit(code);
}
