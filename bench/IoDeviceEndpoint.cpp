#include "bench/IoDeviceEndpoint.h"

#include <QIODevice>

IoDeviceEndpoint::IoDeviceEndpoint(QIODevice *device, QObject *parent)
    : BenchEndpoint(parent), m_device(device)
{
    connect(device, &QIODevice::readyRead, this, &BenchEndpoint::readyRead);
}

qint64 IoDeviceEndpoint::write(const char *data, qint64 len)
{
    return m_device->write(data, len);
}

qint64 IoDeviceEndpoint::read(char *buffer, qint64 maxLen)
{
    const qint64 count = m_device->read(buffer, maxLen);
    return count > 0 ? count : -1;
}
