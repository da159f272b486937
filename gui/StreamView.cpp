#include "gui/StreamView.h"

#include "gui/Coalescer.h"
#include "hostlib/HexCodec.h"

#include <QScrollBar>
#include <QTextCodec>

namespace {
const int hexBytesPerLine = 16;
// Text lines are rarely longer than this.
const int textBytesPerLine = 256;
// Lines shown per update at most: the document takes 10 to 20 us to add a
// line and drop the oldest, so an update stays near 15 ms. Of a burst larger
// than that only its newest part is shown.
const int linesPerTurn = 1000;
const int updateIntervalMs = 50;

QTextDecoder *newDecoder()
{
    return QTextCodec::codecForName("UTF-8")->makeDecoder();
}
}

StreamView::StreamView(QWidget *parent)
    : QPlainTextEdit(parent), m_decoder(newDecoder()),
      m_flush(new Coalescer([this] { flush(); }, updateIntervalMs, this))
{
    setReadOnly(true);
    // The document keeps no copy of what scrolled out.
    setUndoRedoEnabled(false);
    setLineWrapMode(NoWrap);
    setFont(QFont(QStringLiteral("monospace")));
    setScrollback(10000);
}

StreamView::~StreamView() = default;

void StreamView::setMode(Mode mode)
{
    if (mode == m_mode)
        return;
    m_mode = mode;
    rerender();
}

void StreamView::setTimestamps(bool on)
{
    if (on == m_timestamps)
        return;
    m_timestamps = on;
    rerender();
}

void StreamView::setScrollback(int lines)
{
    setMaximumBlockCount(lines);
}

void StreamView::append(const QByteArray &data)
{
    m_pending.push_back({QDateTime::currentDateTime(), data, QString(), m_offset, data.size()});
    m_offset += data.size();
    m_pendingBytes += data.size();
    trimPending();
    m_flush->request();
}

// A note counts as a line's worth of bytes, so that a flood of small
// datagrams is bounded in lines as a stream is.
void StreamView::appendNote(const QString &text)
{
    const int weight = m_mode == Hex ? hexBytesPerLine : textBytesPerLine;
    m_pending.push_back({QDateTime::currentDateTime(), QByteArray(), text, 0, weight});
    m_pendingBytes += weight;
    m_offset = 0;
    trimPending();
    m_flush->request();
}

void StreamView::trimPending()
{
    const int bytesPerLine = m_mode == Hex ? hexBytesPerLine : textBytesPerLine;
    const qint64 limit = qint64(qMin(maximumBlockCount(), linesPerTurn)) * bytesPerLine;
    while (m_pendingBytes > limit && !m_pending.empty()) {
        Chunk &first = m_pending.front();
        if (first.data.isEmpty()) {
            // A note of bytes that are left out goes with them.
            m_pendingBytes -= first.weight;
            m_pending.pop_front();
            continue;
        }
        // Whole hex lines are dropped so that the dump stays aligned.
        const qint64 over = (m_pendingBytes - limit + hexBytesPerLine - 1) / hexBytesPerLine * hexBytesPerLine;
        const int drop = int(qMin<qint64>(over, first.data.size()));
        m_skipped += drop;
        m_pendingBytes -= drop;
        if (drop == first.data.size()) {
            m_pending.pop_front();
            continue;
        }
        first.data.remove(0, drop);
        first.offset += drop;
        first.weight -= drop;
    }
}

void StreamView::clearAll()
{
    m_pending.clear();
    m_kept.clear();
    m_pendingBytes = m_keptBytes = m_offset = m_skipped = 0;
    m_atLineStart = true;
    m_decoder.reset(newDecoder());
    clear();
}

bool StreamView::findText(const QString &text, bool backwards)
{
    const QTextDocument::FindFlags flags = backwards ? QTextDocument::FindBackward : QTextDocument::FindFlags();
    if (text.isEmpty() || find(text, flags))
        return !text.isEmpty();
    // Round the end: from the other end once.
    QTextCursor from(document());
    from.movePosition(backwards ? QTextCursor::End : QTextCursor::Start);
    const QTextCursor found = document()->find(text, from, flags);
    if (found.isNull())
        return false;
    setTextCursor(found);
    return true;
}

void StreamView::flush()
{
    if (m_pending.empty())
        return;
    m_out.clear();
    if (m_skipped > 0) {
        m_kept.clear();
        m_keptBytes = 0;
        appendText(tr("[%1 bytes not shown]\n").arg(m_skipped).prepend(m_atLineStart ? QString() : QStringLiteral("\n")),
                   QDateTime());
        m_skipped = 0;
    }
    std::deque<Chunk> batch;
    batch.swap(m_pending);
    m_pendingBytes = 0;
    render(batch);
    insert(m_out);
    for (const Chunk &chunk : batch)
        keep(chunk);
}

void StreamView::keep(const Chunk &chunk)
{
    m_kept.push_back(chunk);
    m_keptBytes += chunk.data.size();
    while (m_keptBytes > keptBytes && m_kept.size() > 1) {
        m_keptBytes -= m_kept.front().data.size();
        m_kept.pop_front();
    }
}

void StreamView::rerender()
{
    flush();
    clear();
    m_atLineStart = true;
    m_decoder.reset(newDecoder());
    m_out.clear();
    render(m_kept);
    insert(m_out);
}

// Consecutive bytes without a note between them are shown as one piece,
// stamped with the time of its first chunk.
void StreamView::render(const std::deque<Chunk> &chunks)
{
    QByteArray run;
    qint64 runOffset = 0;
    QDateTime runTime;
    const auto show = [&] {
        if (run.isEmpty())
            return;
        QString text;
        if (m_mode == Hex) {
            if (!m_atLineStart)
                appendText(QStringLiteral("\n"), QDateTime());
            text = QString::fromLatin1(HexCodec::dump(run, runOffset));
        } else {
            text = m_decoder->toUnicode(run);
            text.remove(QLatin1Char('\r'));
            for (QChar &c : text) {
                if (c.unicode() < 0x20 && c != QLatin1Char('\n') && c != QLatin1Char('\t'))
                    c = QChar(0x00B7);
            }
        }
        appendText(text, runTime);
        run.clear();
    };
    for (const Chunk &chunk : chunks) {
        if (!chunk.note.isEmpty()) {
            show();
            m_decoder.reset(newDecoder());
            appendText(QStringLiteral("%1%2\n").arg(m_atLineStart ? QString() : QStringLiteral("\n"), chunk.note),
                       chunk.time);
            continue;
        }
        if (run.isEmpty()) {
            runOffset = chunk.offset;
            runTime = chunk.time;
        }
        run += chunk.data;
    }
    show();
}

void StreamView::appendText(const QString &text, const QDateTime &time)
{
    const QString stamp = m_timestamps && time.isValid() ? time.toString(QStringLiteral("HH:mm:ss.zzz ")) : QString();
    for (int start = 0; start < text.size();) {
        if (m_atLineStart)
            m_out += stamp;
        const int newline = text.indexOf(QLatin1Char('\n'), start);
        const int end = newline < 0 ? text.size() : newline + 1;
        m_out += text.midRef(start, end - start);
        m_atLineStart = newline >= 0;
        start = end;
    }
}

void StreamView::insert(const QString &text)
{
    if (text.isEmpty())
        return;
    QScrollBar *bar = verticalScrollBar();
    const bool atBottom = bar->value() == bar->maximum();
    QTextCursor cursor(document());
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(text);
    if (atBottom)
        bar->setValue(bar->maximum());
}
