#pragma once

#include "network/PCom_SocketClientPort.h"

#include <QHostAddress>

class PCom_UdpClient_Refusals;
class QUdpSocket;

// One UDP socket bound to "bind-address" and "bind-port". Every write is one
// datagram to "address" and "port"; every read takes one datagram from any
// sender.
class PCom_UdpClient_Port : public PCom_SocketClientPort
{
    Q_OBJECT
public:
    explicit PCom_UdpClient_Port(Plugin_Com_Device *device);

    int writeByteStream(const char *data, int len) override;
    int readByteStream(char *buffer, int maxLen) override;
    // The largest UDP datagram over IPv4.
    int maxWriteSize() const override { return 65507; }
    AbstractTreeItem *createInstance() override;

protected:
    // Both first report the refusals that earlier datagrams met (and so keep
    // them from failing this send).
    void closePrivate() override;
    QAbstractSocket *createSocket() override;
    void startLink() override;
    ErrorTexts errorTexts() const override;
    bool refreshesLocksOnRefusedOpen() const override;

private:
    QUdpSocket *udpSocket() const;
    int readAfterEmptyNotice(char *buffer, int maxLen);

    QString m_bindAddress;
    quint16 m_bindPort = 0;
    quint16 m_port = 0;
    QString m_address;
    // m_address parsed: where every datagram goes.
    QHostAddress m_destination;
    // The PCom_DatagramRefusals face.
    PCom_UdpClient_Refusals *m_refusals;
};
