#include "gui/CanIdView.h"

#include "gui/CanFrameTable.h"
#include "gui/Coalescer.h"

#include <QElapsedTimer>
#include <QHeaderView>

namespace {
const int updateIntervalMs = 200;
enum Column { Identifier, Count, Cycle, Flags, Data, Columns };

quint64 keyOf(const QCanBusFrame &frame)
{
    return (quint64(frame.hasExtendedFrameFormat()) << 32) | frame.frameId();
}

QString idText(quint64 key)
{
    const bool extended = key >> 32;
    return QString::number(quint32(key), 16).toUpper().rightJustified(extended ? 8 : 3, QLatin1Char('0'));
}

qint64 nowUs()
{
    static QElapsedTimer clock;
    if (!clock.isValid())
        clock.start();
    return clock.nsecsElapsed() / 1000;
}
}

CanIdView::CanIdView(QWidget *parent)
    : QTableWidget(0, Columns, parent), m_flush(new Coalescer([this] { flush(); }, updateIntervalMs, this))
{
    setHorizontalHeaderLabels({tr("ID"), tr("Count"), tr("Cycle ms"), tr("Flags"), tr("Last data")});
    horizontalHeaderItem(Identifier)->setToolTip(tr("Identifier"));
    horizontalHeaderItem(Cycle)->setToolTip(tr("Time between the last two frames, in milliseconds"));
    horizontalHeaderItem(Data)->setToolTip(tr("Bytes that changed from the frame before are in brackets"));
    verticalHeader()->hide();
    setEditTriggers(NoEditTriggers);
    setSelectionBehavior(SelectRows);
    setFont(QFont(QStringLiteral("monospace")));
    CanFrameTable::fitColumns(this, {QStringLiteral("00000000"), QStringLiteral("000000"), QStringLiteral("0000.0"),
                                     tr("TX EXT RTR")});
}

void CanIdView::append(const QCanBusFrame &frame, bool sent)
{
    Entry &entry = m_entries[keyOf(frame)];
    const qint64 now = nowUs();
    if (entry.lastUs >= 0)
        entry.cycleUs = now - entry.lastUs;
    entry.lastUs = now;
    entry.before = entry.count > 0 ? entry.frame.payload() : frame.payload();
    entry.frame = frame;
    entry.sent = sent;
    ++entry.count;
    entry.dirty = true;
    m_flush->request();
}

void CanIdView::clearRows()
{
    m_entries.clear();
    setRowCount(0);
}

QString CanIdView::dataText(const QByteArray &data, const QByteArray &before)
{
    QStringList bytes;
    for (int i = 0; i < data.size(); ++i) {
        const QString byte = QString::fromLatin1(data.mid(i, 1).toHex().toUpper());
        bytes.append(i < before.size() && before.at(i) == data.at(i) ? byte : QStringLiteral("[%1]").arg(byte));
    }
    return bytes.join(QLatin1Char(' '));
}

QString CanIdView::rowText(const QString &identifier) const
{
    const QList<QTableWidgetItem *> found = findItems(identifier, Qt::MatchExactly);
    for (const QTableWidgetItem *item : found) {
        if (item->column() != Identifier)
            continue;
        QStringList cells;
        for (int column = 0; column < Columns; ++column)
            cells.append(this->item(item->row(), column)->text());
        return cells.join(QLatin1Char('\t'));
    }
    return QString();
}

void CanIdView::flush()
{
    QList<quint64> keys = m_entries.keys();
    std::sort(keys.begin(), keys.end());
    if (rowCount() != keys.size())
        setRowCount(keys.size());
    for (int row = 0; row < keys.size(); ++row) {
        Entry &entry = m_entries[keys.at(row)];
        const QString id = idText(keys.at(row));
        const bool moved = !item(row, Identifier) || item(row, Identifier)->text() != id;
        if (!entry.dirty && !moved)
            continue;
        entry.dirty = false;
        const bool remote = entry.frame.frameType() == QCanBusFrame::RemoteRequestFrame;
        const QStringList cells{id, QString::number(entry.count),
                                entry.cycleUs < 0 ? QString() : QString::number(entry.cycleUs / 1000.0, 'f', 1),
                                (entry.sent ? tr("TX ") : QString()) + CanFrameTable::flagsText(entry.frame),
                                remote ? QString() : dataText(entry.frame.payload(), entry.before)};
        for (int column = 0; column < Columns; ++column) {
            if (QTableWidgetItem *cell = item(row, column))
                cell->setText(cells.at(column).trimmed());
            else
                setItem(row, column, new QTableWidgetItem(cells.at(column).trimmed()));
        }
    }
}
