#include "cli/StdioRelay.h"

#include "cli/ExitCode.h"
#include "cli/StdinReader.h"
#include "hostlib/LogReceiver.h"
#include "hostlib/PortLink.h"
#include "hostlib/PortReader.h"
#include "hostlib/PortWriter.h"

StdioRelay::StdioRelay(PortLink *link, DataCodec::Mode mode, double lingerSeconds, QObject *parent)
    : QObject(parent), m_link(link), m_codec(mode), m_lingerSeconds(lingerSeconds), m_stdin(new StdinReader(0, this))
{
    m_link->setSourceName(QStringLiteral("standard input"));
    // Each read of standard input becomes one write, so one datagram of a
    // datagram port.
    m_stdin->setChunkSize(m_link->maxWriteSize());
    m_linger.setSingleShot(true);
    connect(&m_linger, &QTimer::timeout, this, [this]() { m_link->close(); });
    connect(m_stdin, &StdinReader::dataRead, this, &StdioRelay::onStdinData);
    connect(m_stdin, &StdinReader::finished, this, &StdioRelay::onStdinFinished);
    connect(m_link->reader(), &PortReader::received, this, &StdioRelay::onReceived);
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
    m_link->start();
    m_stdin->start();
    if (!m_link->isDown())
        m_loop.exec();
    return m_link->endedInOrder() && !m_stdoutFailed ? ExitCode::Ok : ExitCode::LinkFailure;
}

void StdioRelay::onStdinData(const QByteArray &data)
{
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
    m_link->finishWriting();
}

void StdioRelay::queueItems(const QList<DataCodec::Item> &items, const QList<DataCodec::Problem> &problems)
{
    for (const DataCodec::Problem &p : problems) {
        LogReceiver::post(QStringLiteral("error"),
                          QStringLiteral("input line %1: %2 (skipped)").arg(p.line).arg(p.message));
    }
    for (const DataCodec::Item &item : items)
        m_link->writer()->write(item.data.constData(), item.data.size(), item.frameId, item.line);
}

void StdioRelay::onReceived(const char *data, int size, quint32 frameId)
{
    if (m_stdoutFailed)
        return;
    if (!m_stdout.write(m_codec.encode(QByteArray::fromRawData(data, size), frameId))) {
        LogReceiver::post(QStringLiteral("error"), QStringLiteral("standard output is closed"));
        m_stdoutFailed = true;
        m_stdin->pause();
        m_link->close();
        return;
    }
    if (m_lingering && m_lingerSeconds < 0)
        m_linger.start(quietMs);
}

void StdioRelay::startLinger()
{
    m_lingering = true;
    m_linger.start(m_lingerSeconds < 0 ? quietMs : int(m_lingerSeconds * 1000));
}

void StdioRelay::stop(int flushMs)
{
    m_linger.stop();
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
    m_stdin->pause();
    m_loop.quit();
}
