#include "bench/UdpSocketEndpoint.h"

#include <QUdpSocket>

UdpSocketEndpoint::UdpSocketEndpoint(QUdpSocket *socket, const QHostAddress &destination, quint16 port,
                                     QObject *parent)
    : BenchEndpoint(parent), m_socket(socket), m_destination(destination), m_port(port)
{
    connect(socket, &QIODevice::readyRead, this, &BenchEndpoint::readyRead);
}

qint64 UdpSocketEndpoint::write(const char *data, qint64 len)
{
    return m_socket->writeDatagram(data, len, m_destination, m_port);
}

qint64 UdpSocketEndpoint::read(char *buffer, qint64 maxLen)
{
    if (!m_socket->hasPendingDatagrams())
        return -1;
    return m_socket->readDatagram(buffer, maxLen);
}
