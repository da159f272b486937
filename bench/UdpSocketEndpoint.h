#pragma once

#include "bench/BenchEndpoint.h"

#include <QHostAddress>

class QUdpSocket;

// A raw QUdpSocket: every write one datagram to a fixed destination, every
// read one datagram from anyone.
class UdpSocketEndpoint : public BenchEndpoint
{
    Q_OBJECT
public:
    UdpSocketEndpoint(QUdpSocket *socket, const QHostAddress &destination, quint16 port, QObject *parent = nullptr);

    qint64 write(const char *data, qint64 len) override;
    qint64 read(char *buffer, qint64 maxLen) override;

private:
    QUdpSocket *m_socket;
    QHostAddress m_destination;
    quint16 m_port;
};
