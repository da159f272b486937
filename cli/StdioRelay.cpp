#include "cli/StdioRelay.h"

#include "cli/ExitCode.h"
#include "hostlib/LinkMonitor.h"
#include "hostlib/LogReceiver.h"
#include "hostlib/PortLink.h"
#include "hostlib/PortReader.h"
#include "hostlib/PortWriter.h"
#include "host/Plugin_Com_Port.h"
#include "cli/StdinReader.h"

StdioRelay::StdioRelay(PortLink *link, DataCodec::Mode mode, double lingerSeconds, QObject *parent)
    : QObject(parent),
      m_link(link),
      m_codec(mode),
      m_lingerSeconds(lingerSeconds),
      m_stdin(new StdinReader(0, this))
{
    m_linger.setSingleShot(true);
    connect(&m_linger, &QTimer::timeout, this, &StdioRelay::beginClose);
    connect(m_stdin, &StdinReader::dataRead, this, &StdioRelay::onStdinData);
    connect(m_stdin, &StdinReader::finished, this, &StdioRelay::onStdinFinished);
    connect(m_link->reader(), &PortReader::received, this, &StdioRelay::onReceived);
    connect(m_link->writer(), &PortWriter::drained, this, &StdioRelay::onWriterDrained);
    connect(m_link->monitor(), &LinkMonitor::linkClosed, this, &StdioRelay::onLinkClosed);
    connect(m_link, &PortLink::down, this, [this]() { finish(m_exitCode); });
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
    QList<DataCodec::Item> items;
    QList<DataCodec::Problem> problems;
    m_codec.feed(data, &items, &problems);
    queueItems(items, problems);
    if (m_link->writer()->pendingBytes() > maxPending)
        m_stdin->pause();
}

void StdioRelay::onStdinFinished()
{
    QList<DataCodec::Item> items;
    QList<DataCodec::Problem> problems;
    m_codec.finish(&items, &problems);
    queueItems(items, problems);
    m_inputDone = true;
    if (m_link->writer()->isIdle())
        startLinger();
}

void StdioRelay::queueItems(const QList<DataCodec::Item> &items, const QList<DataCodec::Problem> &problems)
{
    for (const DataCodec::Problem &p : problems) {
        LogReceiver::post(QStringLiteral("error"),
                          QStringLiteral("input line %1: %2 (skipped)").arg(p.line).arg(p.message));
    }
    for (const DataCodec::Item &item : items)
        m_link->writer()->enqueue(item.data, item.frameId, item.line);
}

void StdioRelay::onReceived(const QByteArray &data, quint32 frameId)
{
    if (!m_stdout.write(m_codec.encode(data, frameId))) {
        if (m_exitCode == ExitCode::Ok)
            LogReceiver::post(QStringLiteral("error"), QStringLiteral("standard output is closed"));
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
        LogReceiver::post(QStringLiteral("error"), QStringLiteral("the %1 link failed: %2")
                                                        .arg(m_link->label(), m_link->monitor()->failure()));
        finish(ExitCode::LinkFailure);
        return;
    }
    finish(m_exitCode);
}

void StdioRelay::stop()
{
    m_stopRequested = true;
    beginClose();
}

void StdioRelay::abort()
{
    m_link->closeAtOnce();
}

void StdioRelay::beginClose()
{
    if (m_link->isShuttingDown())
        return;
    m_linger.stop();
    m_stdin->pause();
    m_link->shutdown(m_stopRequested ? signalFlushMs : flushTimeoutMs, closeTimeoutMs);
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
