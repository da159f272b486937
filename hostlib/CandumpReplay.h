#pragma once

#include <QCanBusFrame>
#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QTimer>

// The frames of a candump log (candump -L, pcom's --log-format candump,
// pcom-gui's CAN log files) given again, for pcom open --replay FILE and
// pcom-gui's CAN terminal, with the gaps between them as
// recorded. Each gap counts from the moment the frame before it was given,
// so a late frame delays the rest rather than shortening a gap; a pause
// (the port's backlog full) holds the clock.
class CandumpReplay : public QObject
{
    Q_OBJECT
public:
    explicit CandumpReplay(QObject *parent = nullptr);

    // Reads the whole log; false, with "FILE:LINE: reason", at the first
    // line that is no record (blank lines and lines from '#' on are none).
    bool load(const QString &fileName, QString *error);
    int frameCount() const { return m_records.size(); }

    void start();
    void pause();
    void resume();

signals:
    // `line`: the frame's line in the log.
    void frameDue(const QCanBusFrame &frame, qint64 line);
    // Every frame has been given.
    void finished();

private:
    struct Record {
        QCanBusFrame frame;
        qint64 microseconds = 0;
        qint64 line = 0;
    };
    void schedule();
    void onTimer();

    QList<Record> m_records;
    int m_next = 0;
    bool m_paused = false;
    bool m_started = false;
    bool m_done = false;
    QTimer m_timer;
    // Since the last frame was given, less the time spent paused.
    QElapsedTimer m_sinceLast;
    qint64 m_pausedMs = 0;
    qint64 m_pauseStartMs = 0;
};
