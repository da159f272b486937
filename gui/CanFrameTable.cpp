#include "gui/CanFrameTable.h"

#include "gui/Coalescer.h"

#include <QHeaderView>
#include <QStyle>

namespace {
// A table row costs several times a text line; of a larger burst the newest rows are shown.
const int rowsPerUpdate = 500;
const int updateIntervalMs = 50;
}

CanFrameTable::CanFrameTable(QWidget *parent)
    : QTableWidget(0, 5, parent), m_flush(new Coalescer([this] { flush(); }, updateIntervalMs, this))
{
    setHorizontalHeaderLabels({tr("Time"), tr("ID"), tr("Flags"), tr("Len"), tr("Data")});
    horizontalHeaderItem(1)->setToolTip(tr("Identifier"));
    horizontalHeaderItem(3)->setToolTip(tr("Payload length in bytes (asked for, of a remote request)"));
    verticalHeader()->hide();
    setEditTriggers(NoEditTriggers);
    setSelectionBehavior(SelectRows);
    setFont(QFont(QStringLiteral("monospace")));
    fitColumns(this, {QStringLiteral("00:00:00.000"), QStringLiteral("00000000"), tr("TX EXT RTR"), QStringLiteral("64")});
}

void CanFrameTable::fitColumns(QTableWidget *table, const QStringList &samples)
{
    QHeaderView *header = table->horizontalHeader();
    header->setStretchLastSection(true);
    // The cell's margins and the grid line, as the delegate draws them.
    const int margins = 2 * (table->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, table) + 1) + 4;
    for (int column = 0; column < samples.size(); ++column) {
        const int text = table->fontMetrics().horizontalAdvance(samples.at(column)) + margins;
        header->resizeSection(column, qMax(text, header->sectionSizeHint(column)));
    }
}

void CanFrameTable::setScrollback(int rows)
{
    m_scrollback = rows;
    if (rowCount() > rows)
        model()->removeRows(0, rowCount() - rows);
}

QString CanFrameTable::flagsText(const QCanBusFrame &frame)
{
    QStringList flags;
    if (frame.hasExtendedFrameFormat())
        flags << tr("EXT");
    if (frame.frameType() == QCanBusFrame::RemoteRequestFrame)
        flags << tr("RTR");
    if (frame.frameType() == QCanBusFrame::ErrorFrame)
        flags << tr("ERR");
    if (frame.hasFlexibleDataRateFormat())
        flags << tr("FD");
    if (frame.hasBitrateSwitch())
        flags << tr("BRS");
    return flags.join(QLatin1Char(' '));
}

void CanFrameTable::clearRows()
{
    m_pending.clear();
    m_leftOut = m_leftOutTotal = 0;
    setRowCount(0);
}

void CanFrameTable::append(const QCanBusFrame &frame, bool sent)
{
    m_pending.append({QTime::currentTime(), frame, sent});
    const int keep = qMin(m_scrollback, rowsPerUpdate);
    if (m_pending.size() > keep) {
        const int drop = m_pending.size() - keep;
        m_pending.remove(0, drop);
        m_leftOut += drop;
        m_leftOutTotal += drop;
    }
    m_flush->request();
}

void CanFrameTable::addRow(const QStringList &cells)
{
    const int row = rowCount();
    setRowCount(row + 1);
    for (int column = 0; column < cells.size(); ++column)
        setItem(row, column, new QTableWidgetItem(cells.at(column)));
}

void CanFrameTable::flush()
{
    if (m_leftOut > 0) {
        addRow({QString(), QString(), QString(), QString(), tr("(%n frame(s) not shown)", nullptr, int(m_leftOut))});
        m_leftOut = 0;
    }
    for (const Row &row : qAsConst(m_pending)) {
        const QCanBusFrame &frame = row.frame;
        const bool remote = frame.frameType() == QCanBusFrame::RemoteRequestFrame;
        // A remote request carries no data; its payload's size is the length asked for.
        addRow({row.time.toString(QStringLiteral("HH:mm:ss.zzz")),
                QString::number(frame.frameId(), 16).toUpper().rightJustified(frame.hasExtendedFrameFormat() ? 8 : 3,
                                                                              QLatin1Char('0')),
                row.sent ? (tr("TX") + QLatin1Char(' ') + flagsText(frame)).trimmed() : flagsText(frame),
                QString::number(frame.payload().size()),
                remote ? QString() : QString::fromLatin1(frame.payload().toHex(' ').toUpper())});
    }
    m_pending.clear();
    if (rowCount() > m_scrollback)
        model()->removeRows(0, rowCount() - m_scrollback);
    scrollToBottom();
}
