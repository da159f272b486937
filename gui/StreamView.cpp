#include "gui/StreamView.h"

#include "gui/Coalescer.h"
#include "hostlib/HexCodec.h"

#include <QScrollBar>
#include <QTextCodec>
#include <QTime>

namespace {
const int hexBytesPerLine = 16;
// Text lines are rarely longer than this.
const int textBytesPerLine = 256;
// Lines shown per update at most: the document takes 10 to 20 us to add a
// line and drop the oldest, so an update stays near 15 ms. Of a burst larger
// than that only its newest part is shown.
const int linesPerTurn = 1000;
const int updateIntervalMs = 50;
}

StreamView::StreamView(QWidget *parent)
    : QPlainTextEdit(parent), m_decoder(QTextCodec::codecForName("UTF-8")->makeDecoder()),
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
    m_mode = mode;
    m_decoder.reset(QTextCodec::codecForName("UTF-8")->makeDecoder());
    if (!m_atLineStart)
        appendText(QStringLiteral("\n"));
}

void StreamView::setScrollback(int lines)
{
    setMaximumBlockCount(lines);
}

void StreamView::append(const QByteArray &data)
{
    m_pending.append(data);
    const int bytesPerLine = m_mode == Hex ? hexBytesPerLine : textBytesPerLine;
    const qint64 keep = qint64(qMin(maximumBlockCount(), linesPerTurn)) * bytesPerLine;
    if (m_pending.size() > keep) {
        // Whole hex lines are dropped so that the dump stays aligned.
        const int drop = int((m_pending.size() - keep + hexBytesPerLine - 1) / hexBytesPerLine * hexBytesPerLine);
        m_pending.remove(0, drop);
        m_offset += drop;
        m_skipped += drop;
    }
    m_flush->request();
}

void StreamView::flush()
{
    if (m_pending.isEmpty())
        return;

    QString text;
    if (m_skipped > 0) {
        text = tr("[%1 bytes not shown]\n").arg(m_skipped);
        m_skipped = 0;
        if (!m_atLineStart)
            text.prepend(QLatin1Char('\n'));
    }
    if (m_mode == Hex) {
        text += QString::fromLatin1(HexCodec::dump(m_pending, m_offset));
    } else {
        QString decoded = m_decoder->toUnicode(m_pending);
        decoded.remove(QLatin1Char('\r'));
        for (QChar &c : decoded) {
            if (c.unicode() < 0x20 && c != QLatin1Char('\n') && c != QLatin1Char('\t'))
                c = QChar(0x00B7);
        }
        text += decoded;
    }
    m_offset += m_pending.size();
    m_pending.clear();
    appendText(text);
}

void StreamView::appendText(const QString &text)
{
    QScrollBar *bar = verticalScrollBar();
    const bool atBottom = bar->value() == bar->maximum();
    const QString stamp = m_timestamps ? QTime::currentTime().toString(QStringLiteral("HH:mm:ss.zzz ")) : QString();
    QString out;
    out.reserve(text.size() + (stamp.isEmpty() ? 0 : text.size() / 4));
    for (int start = 0; start < text.size();) {
        if (m_atLineStart)
            out += stamp;
        const int newline = text.indexOf(QLatin1Char('\n'), start);
        const int end = newline < 0 ? text.size() : newline + 1;
        out += text.midRef(start, end - start);
        m_atLineStart = newline >= 0;
        start = end;
    }
    QTextCursor cursor(document());
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(out);
    if (atBottom)
        bar->setValue(bar->maximum());
}
