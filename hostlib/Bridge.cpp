#include "hostlib/Bridge.h"

#include "hostlib/CanLineParser.h"
#include "hostlib/LinkMonitor.h"
#include "hostlib/LogReceiver.h"
#include "hostlib/PortLink.h"
#include "hostlib/PortReader.h"
#include "hostlib/PortWriter.h"

Bridge::Bridge(PortLink *first, PortLink *second, double statsSeconds, QObject *parent)
    : QObject(parent),
      m_first(first),
      m_second(second),
      m_toFirst(DataCodec::Frames),
      m_toSecond(DataCodec::Frames)
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
    if (statsSeconds > 0) {
        connect(&m_stats, &QTimer::timeout, this, &Bridge::printStats);
        m_stats.setInterval(int(statsSeconds * 1000));
    }
}

Bridge::~Bridge() = default;

bool Bridge::run()
{
    m_first->monitor()->start();
    m_second->monitor()->start();
    QTimer::singleShot(0, m_first->reader(), &PortReader::drain);
    QTimer::singleShot(0, m_second->reader(), &PortReader::drain);
    if (m_stats.interval() > 0)
        m_stats.start();
    m_loop.exec();
    m_stats.stop();
    printStats();
    return !m_failed;
}

void Bridge::forward(PortLink *from, PortLink *to, DataCodec &decoder, const QByteArray &data, quint32 frameId)
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
    QList<DataCodec::Item> items;
    QList<DataCodec::Problem> problems;
    decoder.feed(data, &items, &problems);
    for (const DataCodec::Problem &p : problems) {
        LogReceiver::post(QStringLiteral("error"),
                          QStringLiteral("line %1 from %2: %3 (skipped)").arg(p.line).arg(from->label(), p.message));
    }
    for (const DataCodec::Item &item : items)
        to->writer()->enqueue(item.data, item.frameId, item.line);
}

void Bridge::onLinkClosed(PortLink *side, bool closedByUs)
{
    if (closedByUs || side->isShuttingDown())
        return;
    side->reader()->drain();
    if (side->monitor()->failed()) {
        LogReceiver::post(QStringLiteral("error"),
                          QStringLiteral("the %1 link failed: %2").arg(side->label(), side->monitor()->failure()));
        m_failed = true;
    } else {
        LogReceiver::post(QStringLiteral("info"), QStringLiteral("the %1 link was closed").arg(side->label()));
    }
    side->shutdown(0, closeTimeoutMs);
    PortLink *other = side == m_first ? m_second : m_first;
    other->shutdown(flushTimeoutMs, closeTimeoutMs);
}

void Bridge::stop()
{
    m_first->shutdown(signalFlushMs, closeTimeoutMs);
    m_second->shutdown(signalFlushMs, closeTimeoutMs);
}

void Bridge::abort()
{
    m_first->closeAtOnce();
    m_second->closeAtOnce();
}

void Bridge::onDown()
{
    if (m_finished || !m_first->isDown() || !m_second->isDown())
        return;
    m_finished = true;
    m_loop.quit();
}

void Bridge::printStats()
{
    const QString a = m_first->label();
    const QString b = m_second->label();
    LogReceiver::post(QStringLiteral("stats"),
                      QStringLiteral("%1 -> %2: %3 bytes").arg(a, b).arg(m_second->writer()->bytesWritten()));
    LogReceiver::post(QStringLiteral("stats"),
                      QStringLiteral("%1 -> %2: %3 bytes").arg(b, a).arg(m_first->writer()->bytesWritten()));
}
