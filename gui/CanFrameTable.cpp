#include "gui/CanFrameTable.h"

#include "gui/Coalescer.h"

#include <QHeaderView>

namespace {
// The port reports no frame format; identifiers beyond 11 bits need the extended one.
const quint32 largestBaseId = 0x7FF;
// A table row costs several times a text line; of a larger burst the newest rows are shown.
const int rowsPerUpdate = 500;
const int updateIntervalMs = 50;
}

CanFrameTable::CanFrameTable(QWidget *parent)
    : QTableWidget(0, 5, parent), m_flush(new Coalescer([this] { flush(); }, updateIntervalMs, this))
{
    setHorizontalHeaderLabels({tr("Time"), tr("Identifier"), tr("Extended"), tr("Length"), tr("Data")});
    horizontalHeader()->setStretchLastSection(true);
    verticalHeader()->hide();
    setEditTriggers(NoEditTriggers);
    setSelectionBehavior(SelectRows);
    setFont(QFont(QStringLiteral("monospace")));
}

void CanFrameTable::setScrollback(int rows)
{
    m_scrollback = rows;
    if (rowCount() > rows)
        model()->removeRows(0, rowCount() - rows);
}

void CanFrameTable::append(quint32 id, const QByteArray &payload)
{
    m_pending.append({QTime::currentTime(), id, payload});
    const int keep = qMin(m_scrollback, rowsPerUpdate);
    if (m_pending.size() > keep)
        m_pending.remove(0, m_pending.size() - keep);
    m_flush->request();
}

void CanFrameTable::flush()
{
    int row = rowCount();
    setRowCount(row + m_pending.size());
    for (const Frame &frame : qAsConst(m_pending)) {
        const bool extended = frame.id > largestBaseId;
        const QStringList cells{frame.time.toString(QStringLiteral("HH:mm:ss.zzz")),
                                QString::number(frame.id, 16).toUpper().rightJustified(extended ? 8 : 3, QLatin1Char('0')),
                                extended ? tr("yes") : tr("no"), QString::number(frame.payload.size()),
                                QString::fromLatin1(frame.payload.toHex(' ').toUpper())};
        for (int column = 0; column < cells.size(); ++column)
            setItem(row, column, new QTableWidgetItem(cells.at(column)));
        ++row;
    }
    m_pending.clear();
    if (rowCount() > m_scrollback)
        model()->removeRows(0, rowCount() - m_scrollback);
    scrollToBottom();
}
