#pragma once

#include <QCanBusDevice>
#include <QCanBusFrame>
#include <QObject>

// Whole CAN frames for hosts that know this plug-in, a face of a CAN port's
// PCom_LinkStatus: extended identifiers, remote requests, error frames and
// flexible data-rate frames pass as they are, which the host framework's
// calls (base-format data frames only) cannot carry.
class PCom_CanFrames : public QObject
{
    Q_OBJECT
public:
    // False where the port is closed or the device refuses the frame (the
    // link status's lastErrorString() says why).
    virtual bool writeFrame(const QCanBusFrame &frame) = 0;
    // The next received frame, or an invalid frame when none waits. Error
    // frames are logged as the framework's read logs them.
    virtual QCanBusFrame readFrame() = 0;
    virtual qint64 framesAvailable() const = 0;
    // Flexible data rate is off unless a host asks; it applies from the next
    // open on, where the back-end has it.
    virtual void setFlexibleDataRate(bool enabled) = 0;
    virtual bool isFlexibleDataRate() const = 0;
    // The controller's state as the back-end reads it (error active,
    // warning, passive, bus off); Unknown while closed or where the back-end
    // tells none (virtualcan).
    virtual QCanBusDevice::CanBusStatus busStatus() const = 0;

protected:
    explicit PCom_CanFrames(QObject *parent = nullptr) : QObject(parent) {}
};
