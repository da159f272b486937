#pragma once

#include "core/PCom_CanFrames.h"

class PCom_PortStatus;

// Whole frames through a CAN port's device, for hosts of ours: a face of the
// port's link-status companion (and its child). It works on the port's
// device pointer (null while closed) and notes a refusal in the port's last
// error; the port shares its checks and its error-frame line.
class PCom_CanBus_Frames : public PCom_CanFrames
{
    Q_OBJECT
public:
    PCom_CanBus_Frames(PCom_PortStatus *status, QCanBusDevice *const &device, QString &lastError);

    bool writeFrame(const QCanBusFrame &frame) override;
    QCanBusFrame readFrame() override;
    qint64 framesAvailable() const override;
    void setFlexibleDataRate(bool enabled) override { m_flexibleDataRate = enabled; }
    bool isFlexibleDataRate() const override { return m_flexibleDataRate; }
    QCanBusDevice::CanBusStatus busStatus() const override;

    // Open, and the device reports no error.
    bool canSend() const;
    void logErrorFrame(const QCanBusFrame &frame) const;

private:
    QCanBusDevice *const &m_device;
    QString &m_lastError;
    bool m_flexibleDataRate = false;
};
