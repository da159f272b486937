#include "udpclient/PCom_UdpClient_Port.h"

#include "core/PCom_Names.h"
#include "udpclient/PCom_UdpClient_Refusals.h"

#include <QDebug>
#include <QSignalBlocker>
#include <QUdpSocket>

// The length field of a UDP header bounds every datagram.
static const int kLargestDatagram = 65535;

PCom_UdpClient_Port::PCom_UdpClient_Port(Plugin_Com_Device *device)
    : PCom_SocketClientPort(device, PCom_Names::udpClient()),
      m_refusals(new PCom_UdpClient_Refusals(portStatus(), m_socket))
{
    // The bind endpoint applies at the next open. The destination is read on
    // every write, so a new "address" or "port" redirects the next datagram
    // even while the port is open; the address is parsed once, here, not
    // for every datagram.
    declareRecords(
        {
            endpointRecord(QStringLiteral("bind-address"), QStringLiteral("0"),
                           QStringLiteral("UDP bind IP address (Host to listen from)"), Check::IpAddress,
                           [this] { return QVariant(m_bindAddress); },
                           [this](const QVariant &value) { m_bindAddress = value.toString(); }),
            endpointRecord(QStringLiteral("bind-port"), QStringLiteral("0"),
                           QStringLiteral("UDP bind IP port (Host to listen from)"), Check::PortNumber,
                           [this] { return QVariant(int(m_bindPort)); },
                           [this](const QVariant &value) { m_bindPort = quint16(value.toUInt()); }),
            endpointRecord(QStringLiteral("address"), QStringLiteral("127.0.0.1"),
                           QStringLiteral("IP address to send datagram to"), Check::IpAddress,
                           [this] { return QVariant(m_address); },
                           [this](const QVariant &value) {
                               m_address = value.toString();
                               m_destination = QHostAddress(m_address);
                           }),
            endpointRecord(QStringLiteral("port"), QStringLiteral("0"), QStringLiteral("Port to send datagram to"),
                           Check::PortNumber, [this] { return QVariant(int(m_port)); },
                           [this](const QVariant &value) { m_port = quint16(value.toUInt()); }),
        },
        QStringLiteral("Enable / disable the connection to the host"), Shown::From212);
}

QAbstractSocket *PCom_UdpClient_Port::createSocket()
{
    return new QUdpSocket(nullptr);
}

QUdpSocket *PCom_UdpClient_Port::udpSocket() const
{
    return static_cast<QUdpSocket *>(m_socket);
}

// A failed bind reports its error, and so releases the socket, inside
// bind(); the bind line is written afterwards all the same, from the
// members only.
void PCom_UdpClient_Port::startLink()
{
    m_socket->bind(QHostAddress(m_bindAddress), m_bindPort, QAbstractSocket::DefaultForPlatform);
    m_refusals->watchSocket();
    logInfo(QStringLiteral("%1: Bind to IP %2 port %3")
                .arg(typeKey(), QHostAddress(m_bindAddress).toString(), QString::number(m_bindPort)));
}

PCom_SocketClientPort::ErrorTexts PCom_UdpClient_Port::errorTexts() const
{
    return {QT_TR_NOOP("RemoteHostClosedError."),
            QT_TR_NOOP("The host was not found. Please check the host name and port settings."),
            QT_TR_NOOP("The connection was refused by the peer. Make sure the server is running, and that the "
                       "host name and port settings are correct."),
            QT_TR_NOOP("The following error occurred: %1.")};
}

// Unlike the TCP client, a refused open refreshes the property locks.
bool PCom_UdpClient_Port::refreshesLocksOnRefusedOpen() const
{
    return true;
}

void PCom_UdpClient_Port::closePrivate()
{
    m_refusals->look();
    PCom_SocketClientPort::closePrivate();
}

// A send error releases the socket inside writeDatagram(); it is not touched afterwards.
int PCom_UdpClient_Port::writeByteStream(const char *data, int len)
{
    if (!m_socket)
        return 0;
    m_refusals->look();
    const qint64 sent = udpSocket()->writeDatagram(data, qint64(len), m_destination, m_port);
    if (sent == len)
        return len;
    qCritical().noquote() << QStringLiteral("PCom_UdpClient_Port: %1 byte could not be send")
                                 .arg(bytesNotAccepted(len, sent));
    return int(sent);
}

// One datagram per call; bytes beyond the buffer are lost with it. No UDP
// datagram is longer than 65535 bytes, so a buffer that large cannot cut one
// and the size of the next datagram (one more system call) is not needed.
int PCom_UdpClient_Port::readByteStream(char *buffer, int maxLen)
{
    if (!m_socket)
        return -1;
    if (!udpSocket()->hasPendingDatagrams())
        return readAfterEmptyNotice(buffer, maxLen);
    const qint64 size = maxLen >= kLargestDatagram ? 0 : udpSocket()->pendingDatagramSize();
    const qint64 count = udpSocket()->readDatagram(buffer, maxLen);
    if (quint32(count) < size) {
        qWarning().noquote() << QStringLiteral("UDP client: packet dropped in received datagram: %1 ")
                                    .arg(size - quint32(count));
    }
    return int(count) == 0 ? -1 : int(count);
}

// Qt announces datagrams and then waits for a read before it announces any
// more. A wake-up that finds none (its datagram went with the read before)
// must be answered by a read all the same, or the socket never announces
// again. That read finds nothing, which Qt reports as a temporary error:
// kept quiet, as no error of the link; or a datagram that came just now.
int PCom_UdpClient_Port::readAfterEmptyNotice(char *buffer, int maxLen)
{
    const QSignalBlocker quiet(m_socket);
    const qint64 count = udpSocket()->readDatagram(buffer, maxLen);
    return count > 0 ? int(count) : -1;
}

AbstractTreeItem *PCom_UdpClient_Port::createInstance()
{
    return new PCom_UdpClient_Port(device());
}
