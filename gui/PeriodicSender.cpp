#include "gui/PeriodicSender.h"

#include "hostlib/CanLineParser.h"

#include <QHeaderView>
#include <QJsonObject>
#include <QTimer>

namespace {
enum Column { Frame, Period, Running, Columns };
}

PeriodicSender::PeriodicSender(QWidget *parent)
    : QTableWidget(0, Columns, parent)
{
    setHorizontalHeaderLabels({tr("Frame"), tr("ms"), tr("On")});
    horizontalHeaderItem(Period)->setToolTip(tr("Period in milliseconds"));
    horizontalHeader()->setSectionResizeMode(Frame, QHeaderView::Stretch);
    horizontalHeader()->setSectionResizeMode(Period, QHeaderView::ResizeToContents);
    horizontalHeader()->setSectionResizeMode(Running, QHeaderView::ResizeToContents);
    verticalHeader()->hide();
    connect(this, &QTableWidget::itemChanged, this, [this](QTableWidgetItem *item) {
        restart(item->row());
        emit rowsChanged();
    });
}

int PeriodicSender::addFrame(const QString &line, int periodMs, bool running)
{
    const int row = rowCount();
    auto *timer = new QTimer(this);
    timer->setTimerType(Qt::PreciseTimer);
    connect(timer, &QTimer::timeout, this, [this, timer] {
        QCanBusFrame frame;
        QString why;
        const int at = m_timers.indexOf(timer);
        if (CanLineParser::parse(item(at, Frame)->text().toLatin1(), &frame, &why))
            emit frameDue(frame);
    });
    m_timers.append(timer);
    const QSignalBlocker block(this);
    insertRow(row);
    setItem(row, Frame, new QTableWidgetItem(line));
    setItem(row, Period, new QTableWidgetItem(QString::number(periodMs)));
    auto *on = new QTableWidgetItem;
    on->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
    on->setCheckState(running ? Qt::Checked : Qt::Unchecked);
    setItem(row, Running, on);
    restart(row);
    emit rowsChanged();
    return row;
}

void PeriodicSender::setRunning(int row, bool running)
{
    item(row, Running)->setCheckState(running ? Qt::Checked : Qt::Unchecked);
}

void PeriodicSender::restart(int row)
{
    QTimer *timer = m_timers.value(row);
    if (!timer || !item(row, Running))
        return;
    QCanBusFrame frame;
    QString why;
    const int period = item(row, Period)->text().toInt();
    if (CanLineParser::parse(item(row, Frame)->text().toLatin1(), &frame, &why) && period < 1)
        why = tr("the period must be 1 ms or more");
    item(row, Frame)->setToolTip(why);
    if (why.isEmpty() && item(row, Running)->checkState() == Qt::Checked)
        timer->start(period);
    else
        timer->stop();
}

QJsonArray PeriodicSender::rows() const
{
    QJsonArray rows;
    for (int row = 0; row < rowCount(); ++row) {
        rows.append(QJsonObject{{QStringLiteral("frame"), item(row, Frame)->text()},
                                {QStringLiteral("period"), item(row, Period)->text().toInt()},
                                {QStringLiteral("running"), item(row, Running)->checkState() == Qt::Checked}});
    }
    return rows;
}

void PeriodicSender::setRows(const QJsonArray &rows)
{
    qDeleteAll(m_timers);
    m_timers.clear();
    setRowCount(0);
    for (const QJsonValue &row : rows) {
        const QJsonObject entry = row.toObject();
        addFrame(entry.value(QStringLiteral("frame")).toString(), entry.value(QStringLiteral("period")).toInt(),
                 entry.value(QStringLiteral("running")).toBool());
    }
}
