#include "udpclient/PCom_UdpClient_Refusals.h"

#include "core/PCom_PortStatus.h"

#include <QAbstractSocket>
#include <QHostAddress>

#include <linux/errqueue.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstring>

PCom_UdpClient_Refusals::PCom_UdpClient_Refusals(PCom_PortStatus *status, QAbstractSocket *const &socket)
    : PCom_DatagramRefusals(status), m_socket(socket)
{
}

void PCom_UdpClient_Refusals::setWatching(bool watching)
{
    m_watching = watching;
    if (watching && !m_armed)
        arm();
}

void PCom_UdpClient_Refusals::watchSocket()
{
    m_refusals = 0;
    m_armed = false;
    arm();
}

// Both levels: a socket bound to "any" is an IPv6 one that also carries
// IPv4, whose errors come through the IPv4 option. Once armed, the queue is
// read even when nobody watches any more: the error must not fail a send.
void PCom_UdpClient_Refusals::arm()
{
    if (!m_watching || !m_socket || m_socket->socketDescriptor() < 0)
        return;
    const int fd = int(m_socket->socketDescriptor());
    const int on = 1;
    const bool v4 = setsockopt(fd, IPPROTO_IP, IP_RECVERR, &on, sizeof on) == 0;
    const bool v6 = setsockopt(fd, IPPROTO_IPV6, IPV6_RECVERR, &on, sizeof on) == 0;
    m_armed = v4 || v6;
    if (m_armed)
        connect(m_socket, &QAbstractSocket::readyRead, this, &PCom_UdpClient_Refusals::look, Qt::UniqueConnection);
}

void PCom_UdpClient_Refusals::look()
{
    if (!m_armed || !m_socket || m_socket->socketDescriptor() < 0)
        return;
    const int fd = int(m_socket->socketDescriptor());
    // Bounded: a flood of errors waits for the next look rather than holding
    // the loop.
    int i = 0;
    for (; i < 64; ++i) {
        sockaddr_storage destination{};
        char payload[1];
        iovec piece{payload, sizeof payload};
        alignas(cmsghdr) char control[512];
        msghdr message{};
        message.msg_name = &destination;
        message.msg_namelen = sizeof destination;
        message.msg_iov = &piece;
        message.msg_iovlen = 1;
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        if (recvmsg(fd, &message, MSG_ERRQUEUE | MSG_DONTWAIT) < 0)
            break;
        for (cmsghdr *header = CMSG_FIRSTHDR(&message); header; header = CMSG_NXTHDR(&message, header)) {
            const bool error = (header->cmsg_level == IPPROTO_IP && header->cmsg_type == IP_RECVERR)
                               || (header->cmsg_level == IPPROTO_IPV6 && header->cmsg_type == IPV6_RECVERR);
            if (!error)
                continue;
            sock_extended_err detail;
            std::memcpy(&detail, CMSG_DATA(header), sizeof detail);
            if (detail.ee_origin != SO_EE_ORIGIN_ICMP && detail.ee_origin != SO_EE_ORIGIN_ICMP6)
                continue;
            QHostAddress address(reinterpret_cast<const sockaddr *>(&destination));
            bool mapped = false;
            const QHostAddress v4(address.toIPv4Address(&mapped));
            if (mapped)
                address = v4;
            const quint16 port = destination.ss_family == AF_INET6
                                     ? ntohs(reinterpret_cast<const sockaddr_in6 *>(&destination)->sin6_port)
                                     : ntohs(reinterpret_cast<const sockaddr_in *>(&destination)->sin_port);
            const QString host = address.protocol() == QAbstractSocket::IPv6Protocol
                                     ? QStringLiteral("[%1]").arg(address.toString())
                                     : address.toString();
            ++m_refusals;
            if (m_watching)
                emit refused(QStringLiteral("%1:%2").arg(host).arg(port), QString::fromLocal8Bit(strerror(int(detail.ee_errno))));
        }
    }
    if (i == 0)
        return;
    // The error that the system also keeps for the next send or receive.
    int pending = 0;
    socklen_t size = sizeof pending;
    getsockopt(fd, SOL_SOCKET, SO_ERROR, &pending, &size);
}
