#include "cli/Bridge.h"

#include "cli/CanLineParser.h"
#include "cli/ExitCode.h"
#include "cli/LinkMonitor.h"
#include "cli/LogPrinter.h"
#include "cli/PortLink.h"
#include "cli/PortReader.h"
#include "cli/PortWriter.h"
#include "cli/SignalWatcher.h"

Bridge::Bridge(PortLink *first, PortLink *second, double statsSeconds, QObject *parent)
    : QObject(parent),
      m_first(first),
      m_second(second),
      m_toFirst(InputDecoder::Frames),
      m_toSecond(InputDecoder::Frames),
      m_signals(new SignalWatcher(this))
{
    connect(m_first->reader(), &PortReader::received, this,
            [this](const QByteArray &data, quint32 id) { forward(m_first, m_second, m_toSecond, data, id); });
    connect(m_second->reader(), &PortReader::received, this,
            [this](const QByteArray &data, quint32 id) { forward(m_second, m_first, m_toFirst, data, id); });
    for (PortLink *side : {m_first, m_second}) {
        connect(side->monitor(), &LinkMonitor::linkClosed, this,
                [this, side](bool byUs) { onLinkClosed(side, byUs); });
        connect(side, &PortLink::down, this, &Bridge::onDown);
    }
    connect(m_signals, &SignalWatcher::terminationRequested, this, &Bridge::onSignal);
    if (statsSeconds > 0) {
        connect(&m_stats, &QTimer::timeout, this, &Bridge::printStats);
        m_stats.setInterval(int(statsSeconds * 1000));
    }
}

Bridge::~Bridge() = default;

int Bridge::run()
{
    m_first->monitor()->start();
    m_second->monitor()->start();
    QTimer::singleShot(0, m_first->reader(), &PortReader::drain);
    QTimer::singleShot(0, m_second->reader(), &PortReader::drain);
    if (m_stats.interval() > 0)
        m_stats.start();
    const int code = m_loop.exec();
    m_stats.stop();
    printStats();
    return code;
}

void Bridge::forward(PortLink *from, PortLink *to, InputDecoder &decoder, const QByteArray &data, quint32 frameId)
{
    if (to->isShuttingDown())
        return;
    if (from->usesFrames() == to->usesFrames()) {
        to->writer()->enqueue(data, frameId);
        return;
    }
    if (from->usesFrames()) {
        to->writer()->enqueue(CanLineParser::format(frameId, data) + '\n');
        return;
    }
    QList<InputDecoder::Item> items;
    QList<InputDecoder::Problem> problems;
    decoder.feed(data, &items, &problems);
    for (const InputDecoder::Problem &p : problems) {
        LogPrinter::print(QStringLiteral("error"),
                          QStringLiteral("line %1 from %2: %3 (skipped)").arg(p.line).arg(from->label(), p.message));
    }
    for (const InputDecoder::Item &item : items)
        to->writer()->enqueue(item.data, item.frameId, item.line);
}

void Bridge::onLinkClosed(PortLink *side, bool closedByUs)
{
    if (closedByUs || side->isShuttingDown())
        return;
    side->reader()->drain();
    if (side->monitor()->failed()) {
        LogPrinter::print(QStringLiteral("error"),
                          QStringLiteral("the %1 link failed: %2").arg(side->label(), side->monitor()->failure()));
        m_exitCode = ExitCode::LinkFailure;
    } else {
        LogPrinter::print(QStringLiteral("info"), QStringLiteral("the %1 link was closed").arg(side->label()));
    }
    side->shutdown(0, closeTimeoutMs);
    PortLink *other = side == m_first ? m_second : m_first;
    other->shutdown(flushTimeoutMs, closeTimeoutMs);
}

void Bridge::onSignal(int)
{
    ++m_signalCount;
    if (m_signalCount > 1) {
        // Asked twice: stop without waiting for anything.
        m_first->closeAtOnce();
        m_second->closeAtOnce();
        return;
    }
    m_first->shutdown(signalFlushMs, closeTimeoutMs);
    m_second->shutdown(signalFlushMs, closeTimeoutMs);
}

void Bridge::onDown()
{
    if (m_finished || !m_first->isDown() || !m_second->isDown())
        return;
    m_finished = true;
    m_loop.exit(m_exitCode);
}

void Bridge::printStats()
{
    const QString a = m_first->label();
    const QString b = m_second->label();
    LogPrinter::print(QStringLiteral("stats"),
                      QStringLiteral("%1 -> %2: %3 bytes").arg(a, b).arg(m_second->writer()->bytesWritten()));
    LogPrinter::print(QStringLiteral("stats"),
                      QStringLiteral("%1 -> %2: %3 bytes").arg(b, a).arg(m_first->writer()->bytesWritten()));
}
