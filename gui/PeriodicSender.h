#pragma once

#include <QCanBusFrame>
#include <QJsonArray>
#include <QTableWidget>

class QTimer;

// CAN frames to send again and again: one row each with its cansend line,
// its period in milliseconds and whether it runs. A row whose line is no
// frame or whose period is under 1 ms does not run and says why in its
// tooltip.
class PeriodicSender : public QTableWidget
{
    Q_OBJECT
public:
    explicit PeriodicSender(QWidget *parent = nullptr);

    // Adds a row; returns its index.
    int addFrame(const QString &line, int periodMs, bool running);
    void setRunning(int row, bool running);
    // Rows as [{"frame", "period", "running"}], for a workspace, and back.
    QJsonArray rows() const;
    void setRows(const QJsonArray &rows);

signals:
    void frameDue(const QCanBusFrame &frame);
    void rowsChanged();

private:
    void restart(int row);

    QList<QTimer *> m_timers;
};
