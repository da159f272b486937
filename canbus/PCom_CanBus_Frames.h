#pragma once

#include "core/PCom_CanFrames.h"

class PCom_CanBus_Port;

// Whole frames through a CAN port's device, for hosts of ours: a face of the
// port's link-status companion (and its child).
class PCom_CanBus_Frames : public PCom_CanFrames
{
    Q_OBJECT
public:
    explicit PCom_CanBus_Frames(PCom_CanBus_Port *port);

    bool writeFrame(const QCanBusFrame &frame) override;
    QCanBusFrame readFrame() override;
    qint64 framesAvailable() const override;
    void setFlexibleDataRate(bool enabled) override { m_flexibleDataRate = enabled; }
    bool isFlexibleDataRate() const override { return m_flexibleDataRate; }

private:
    PCom_CanBus_Port *m_port;
    bool m_flexibleDataRate = false;
};
