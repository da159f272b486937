#pragma once

#include <QCanBusDevice>
#include <QCanBusFrame>
#include <QLabel>
#include <QMap>

class PCom_CanFrames;
class QTimer;

// One line under a CAN terminal about the bus as the port's back-end sees
// it: the controller's state ("unknown" where the back-end tells none, as
// virtualcan), the frames received in the last second, and the error frames
// received, by error class, with the last error counters that one carried.
// State and rate are taken once a second.
class CanBusHealth : public QLabel
{
    Q_OBJECT
public:
    explicit CanBusHealth(PCom_CanFrames *frames, QWidget *parent = nullptr);

    // A received frame (every one, whatever the view's filters pass).
    void append(const QCanBusFrame &frame);
    void clearCounts();
    // Error frames received with this class among theirs.
    qint64 errorFrames(QCanBusFrame::FrameError kind) const { return m_errors.value(kind); }

    static QString statusText(QCanBusDevice::CanBusStatus status);

private:
    void tick();
    void showState();

    PCom_CanFrames *m_frames;
    QTimer *m_tick;
    QMap<QCanBusFrame::FrameError, qint64> m_errors;
    QString m_counters;
    qint64 m_thisSecond = 0;
    qint64 m_rate = 0;
};
