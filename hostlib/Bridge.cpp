#include "hostlib/Bridge.h"

#include "hostlib/CanLineParser.h"
#include "hostlib/LogReceiver.h"
#include "hostlib/PortLink.h"
#include "hostlib/PortReader.h"
#include "hostlib/PortWriter.h"
#include "hostlib/StreamFilter.h"

Bridge::Bridge(PortLink *first, PortLink *second, double statsSeconds, qint64 holdBytes, QObject *parent)
    : QObject(parent), m_first(first), m_second(second), m_toFirst(DataCodec::Frames), m_toSecond(DataCodec::Frames)
{
    for (PortLink *side : {m_first, m_second}) {
        PortLink *other = side == m_first ? m_second : m_first;
        DataCodec &decoder = side == m_first ? m_toSecond : m_toFirst;
        connect(side->reader(), &PortReader::received, this, [this, side, other, &decoder](const char *data, int size) {
            forward(side, other, decoder, data, size);
        });
        connect(side->reader(), &PortReader::frameReceived, this,
                [this, side, other](const QCanBusFrame &frame) { forwardFrame(side, other, frame); });
        side->writer()->setHoldLimit(holdBytes);
        side->setSourceName(QStringLiteral("the %1 link").arg(other->label()));
        connect(side->writer(), &PortWriter::backlogLow, this, [side, other]() {
            if (!side->isClosing() && !other->isClosing())
                other->reader()->resume();
        });
        connect(side, &PortLink::lost, this, [this, side]() { onLost(side); });
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

void Bridge::finish()
{
    m_finished = true;
    m_stats.stop();
    printStats();
    const qint64 skipped = m_skippedLines + m_first->writer()->framesDropped() + m_second->writer()->framesDropped();
    if (skipped > 0)
        LogReceiver::post(QStringLiteral("error"), QStringLiteral("%1 lines or frames were skipped").arg(skipped));
    m_ok = m_first->endedInOrder() && m_second->endedInOrder() && skipped == 0;
    m_loop.quit();
    emit finished(m_ok);
}

void Bridge::forwardFrame(PortLink *from, PortLink *to, const QCanBusFrame &frame)
{
    if (to->isClosing())
        return;
    PortWriter *writer = to->writer();
    if (to->usesFrames()) {
        writer->writeFrame(frame);
    } else {
        const QByteArray line = CanLineParser::format(frame) + '\n';
        writer->write(line.constData(), line.size());
    }
    if (writer->isFull())
        from->reader()->pause();
}

void Bridge::forward(PortLink *from, PortLink *to, DataCodec &decoder, const char *data, int size)
{
    if (to->isClosing())
        return;
    PortWriter *writer = to->writer();
    if (!to->usesFrames() && m_filter && (from == m_filtered || to == m_filtered)) {
        const QByteArray bytes = from == m_filtered ? m_filter->decode(data, size) : m_filter->encode(data, size);
        if (!bytes.isEmpty() && !to->isClosing())
            writer->write(bytes.constData(), bytes.size());
    } else if (!to->usesFrames()) {
        writer->write(data, size);
    } else {
        QList<DataCodec::Item> items;
        QList<DataCodec::Problem> problems;
        decoder.feed(QByteArray::fromRawData(data, size), &items, &problems);
        m_skippedLines += problems.size();
        for (const DataCodec::Problem &p : problems) {
            LogReceiver::post(QStringLiteral("error"), QStringLiteral("line %1 from %2: %3 (skipped)")
                                                           .arg(p.line)
                                                           .arg(from->label(), p.message));
        }
        for (const DataCodec::Item &item : items)
            writer->writeFrame(item.frame, item.line);
    }
    if (writer->isFull())
        from->reader()->pause();
}

void Bridge::setFilter(PortLink *side, StreamFilter *filter)
{
    m_filtered = side;
    m_filter = filter;
}

void Bridge::onLost(PortLink *side)
{
    PortLink *other = side == m_first ? m_second : m_first;
    other->close();
}

void Bridge::stop(int flushMs)
{
    // Nothing more is taken in; what was taken still goes out.
    m_first->reader()->pause();
    m_second->reader()->pause();
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
    // A side that went down by itself takes the other one with it.
    for (PortLink *side : {m_first, m_second}) {
        PortLink *other = side == m_first ? m_second : m_first;
        if (side->isDown() && !other->isClosing())
            other->close();
    }
    if (m_finished || !m_first->isDown() || !m_second->isDown())
        return;
    finish();
}

void Bridge::printStats()
{
    if (m_statsHook)
        m_statsHook();
    for (PortLink *to : {m_second, m_first}) {
        PortLink *from = to == m_first ? m_second : m_first;
        const PortWriter *writer = to->writer();
        QString text =
            QStringLiteral("%1 -> %2: %3 bytes").arg(from->label(), to->label()).arg(writer->bytesDelivered());
        if (writer->bytesDropped() > 0)
            text += QStringLiteral(", %1 dropped").arg(writer->bytesDropped());
        LogReceiver::post(QStringLiteral("stats"), text);
    }
}
