#include "hostlib/Bridge.h"

#include "hostlib/CanLineParser.h"
#include "hostlib/Endpoint.h"
#include "hostlib/LogReceiver.h"
#include "hostlib/StreamFilter.h"

Bridge::Bridge(Endpoint *first, Endpoint *second, double statsSeconds, qint64 holdBytes, QObject *parent)
    : QObject(parent), m_first(first), m_second(second), m_toFirst(DataCodec::Frames), m_toSecond(DataCodec::Frames)
{
    for (Endpoint *side : {m_first, m_second}) {
        Endpoint *other = otherOf(side);
        DataCodec &decoder = side == m_first ? m_toSecond : m_toFirst;
        connect(side, &Endpoint::received, this, [this, side, other, &decoder](const char *data, int size) {
            forward(side, other, decoder, data, size);
        });
        connect(side, &Endpoint::frameReceived, this,
                [this, side, other](const QCanBusFrame &frame) { forwardFrame(side, other, frame); });
        side->setHoldLimit(holdBytes);
        side->setSourceName(other->sourceText());
        side->setSourceWaiting([other]() { return other->bytesHeld(); });
        connect(side, &Endpoint::backlogLow, this, [side, other]() {
            if (!side->isClosing() && !other->isClosing())
                other->resumeReading();
        });
        connect(side, &Endpoint::inputEnded, this, [this, side]() { onInputEnded(side); });
        connect(side, &Endpoint::writeDone, this, [this, side]() {
            if (m_lingering == side)
                m_linger.start();
        });
        connect(side, &Endpoint::lost, this, [this, side]() { onLost(side); });
        connect(side, &Endpoint::down, this, &Bridge::onDown);
    }
    if (statsSeconds > 0) {
        connect(&m_stats, &QTimer::timeout, this, &Bridge::printStats);
        m_stats.setInterval(int(statsSeconds * 1000));
    }
    m_linger.setSingleShot(true);
    m_linger.setInterval(500);
    connect(&m_linger, &QTimer::timeout, this, [this]() { stop(-1); });
}

Bridge::~Bridge() = default;

bool Bridge::run()
{
    start();
    if (!m_finished)
        m_loop.exec();
    return m_ok;
}

void Bridge::start()
{
    m_first->start();
    m_second->start();
    if (m_stats.interval() > 0)
        m_stats.start();
    if (m_first->isDown() && m_second->isDown())
        finish();
}

qint64 Bridge::skipped() const
{
    return m_skippedLines + m_first->itemsDropped() + m_second->itemsDropped();
}

void Bridge::finish()
{
    m_finished = true;
    m_stats.stop();
    m_linger.stop();
    if (m_finalStats)
        printStats();
    const qint64 skippedItems = skipped();
    if (skippedItems > 0)
        LogReceiver::post(QStringLiteral("error"), m_skippedText.arg(skippedItems));
    // Dropped bytes (a server side without clients, a side that was away)
    // were not delivered: a run that dropped any did not deliver every byte.
    qint64 dropped = 0;
    for (Endpoint *to : {m_second, m_first}) {
        dropped += to->bytesDropped();
        if (to->bytesDropped() > 0)
            LogReceiver::post(QStringLiteral("error"), QStringLiteral("%1 bytes from %2 were dropped, not delivered to %3")
                                                           .arg(to->bytesDropped())
                                                           .arg(otherOf(to)->label(), to->label()));
    }
    m_ok = m_first->endedInOrder() && m_second->endedInOrder() && skippedItems == 0 && dropped == 0;
    m_loop.quit();
    emit finished(m_ok);
}

void Bridge::forwardFrame(Endpoint *from, Endpoint *to, const QCanBusFrame &frame)
{
    if (m_lingering == from && m_linger.isActive())
        m_linger.start();
    if (to->isClosing())
        return;
    if (to->usesFrames()) {
        to->writeFrame(frame, from->frameLine());
    } else {
        const QByteArray line = CanLineParser::format(frame) + '\n';
        to->write(line.constData(), line.size());
    }
    if (to->isFull())
        from->pauseReading();
}

void Bridge::forward(Endpoint *from, Endpoint *to, DataCodec &decoder, const char *data, int size)
{
    if (m_lingering == from && m_linger.isActive())
        m_linger.start();
    if (to->isClosing())
        return;
    if (!to->usesFrames() && m_filter && (from == m_filtered || to == m_filtered)) {
        const QByteArray bytes = from == m_filtered ? m_filter->decode(data, size) : m_filter->encode(data, size);
        if (!bytes.isEmpty() && !to->isClosing())
            to->write(bytes.constData(), bytes.size());
    } else if (!to->usesFrames()) {
        to->write(data, size);
    } else {
        QList<DataCodec::Item> items;
        QList<DataCodec::Problem> problems;
        decoder.feed(QByteArray::fromRawData(data, size), &items, &problems);
        m_skippedLines += problems.size();
        for (const DataCodec::Problem &p : problems) {
            LogReceiver::post(QStringLiteral("error"), QStringLiteral("line %1 from %2: %3 (skipped)")
                                                           .arg(QString::number(p.line), from->label(), p.message));
        }
        for (const DataCodec::Item &item : items)
            to->writeFrame(item.frame, item.line);
    }
    if (to->isFull())
        from->pauseReading();
}

void Bridge::setFilter(Endpoint *side, StreamFilter *filter)
{
    m_filtered = side;
    m_filter = filter;
}

void Bridge::onLost(Endpoint *side)
{
    otherOf(side)->close();
}

// The other end sends what it was given and ends its write direction; what
// it reads goes on until it is quiet.
void Bridge::onInputEnded(Endpoint *side)
{
    Endpoint *other = otherOf(side);
    if (other->isClosing())
        return;
    m_lingering = other;
    other->finishWriting();
}

void Bridge::stop(int flushMs)
{
    m_linger.stop();
    // Nothing more is taken in; what was taken still goes out.
    m_first->pauseReading();
    m_second->pauseReading();
    m_first->close(flushMs);
    m_second->close(flushMs);
}

void Bridge::abort()
{
    m_first->abort();
    m_second->abort();
}

void Bridge::onDown()
{
    // An end that went down by itself takes the other one with it.
    for (Endpoint *side : {m_first, m_second}) {
        if (side->isDown() && !otherOf(side)->isClosing())
            otherOf(side)->close();
    }
    if (m_finished || !m_first->isDown() || !m_second->isDown())
        return;
    finish();
}

void Bridge::printStats()
{
    if (m_statsHook)
        m_statsHook();
    for (Endpoint *to : {m_second, m_first}) {
        const Endpoint *from = otherOf(to);
        QString text = QStringLiteral("%1 -> %2: %3 bytes")
                           .arg(from->label(), to->label(), QString::number(to->bytesDelivered()));
        if (to->bytesDropped() > 0)
            text += QStringLiteral(", %1 dropped").arg(to->bytesDropped());
        LogReceiver::post(QStringLiteral("stats"), text);
    }
}
