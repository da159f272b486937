#pragma once

#include "bench/BenchEndpoint.h"

class QCanBusDevice;

// A raw QCanBusDevice: one data frame per write with a fixed identifier,
// one frame's payload per read.
class CanDeviceEndpoint : public BenchEndpoint
{
    Q_OBJECT
public:
    explicit CanDeviceEndpoint(QCanBusDevice *device, quint32 frameId = 0x123, QObject *parent = nullptr);

    qint64 write(const char *data, qint64 len) override;
    qint64 read(char *buffer, qint64 maxLen) override;

private:
    QCanBusDevice *m_device;
    quint32 m_frameId;
};
