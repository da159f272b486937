#pragma once

#include "bench/BenchEndpoint.h"

class QIODevice;

// A raw Qt stream device (QTcpSocket, QSerialPort) used directly.
class IoDeviceEndpoint : public BenchEndpoint
{
    Q_OBJECT
public:
    explicit IoDeviceEndpoint(QIODevice *device, QObject *parent = nullptr);

    qint64 write(const char *data, qint64 len) override;
    qint64 read(char *buffer, qint64 maxLen) override;

private:
    QIODevice *m_device;
};
