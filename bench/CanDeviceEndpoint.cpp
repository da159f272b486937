#include "bench/CanDeviceEndpoint.h"

#include <QCanBusDevice>

#include <cstring>

CanDeviceEndpoint::CanDeviceEndpoint(QCanBusDevice *device, quint32 frameId, QObject *parent)
    : BenchEndpoint(parent), m_device(device), m_frameId(frameId)
{
    connect(device, &QCanBusDevice::framesReceived, this, &BenchEndpoint::readyRead);
}

qint64 CanDeviceEndpoint::write(const char *data, qint64 len)
{
    const QCanBusFrame frame(m_frameId, QByteArray(data, int(len)));
    return m_device->writeFrame(frame) ? len : -1;
}

qint64 CanDeviceEndpoint::read(char *buffer, qint64 maxLen)
{
    if (m_device->framesAvailable() == 0)
        return -1;
    const QByteArray payload = m_device->readFrame().payload();
    const qint64 count = qMin<qint64>(payload.size(), maxLen);
    std::memcpy(buffer, payload.constData(), size_t(count));
    return count;
}
