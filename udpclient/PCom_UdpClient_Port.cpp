#include "udpclient/PCom_UdpClient_Port.h"

#include "host/TavlinProperty_RegexValidator.h"

#include <QDebug>
#include <QIntValidator>
#include <QUdpSocket>

// The length field of a UDP header bounds every datagram.
static const int kLargestDatagram = 65535;

PCom_UdpClient_Port::PCom_UdpClient_Port(Plugin_Com_Device *device)
    : PCom_SocketClientPort(device, QStringLiteral("udpClient"))
{
    declareRecord(QStringLiteral("plugin"), TavlinProperty::FreeText, QString(), QStringLiteral("Plugin name"))
        ->setWritable(false);
    declareRecord(QStringLiteral("bind-address"), TavlinProperty::FreeText, QStringLiteral("0"),
                  QStringLiteral("UDP bind IP address (Host to listen from)"),
                  new TavlinProperty_RegexValidator(TavlinProperty_RegexValidator::IpAddress));
    declareRecord(QStringLiteral("bind-port"), TavlinProperty::FreeText, QStringLiteral("0"),
                  QStringLiteral("UDP bind IP port (Host to listen from)"), new QIntValidator(0, 65535, nullptr));
    declareRecord(QStringLiteral("address"), TavlinProperty::FreeText, QStringLiteral("127.0.0.1"),
                  QStringLiteral("IP address to send datagram to"),
                  new TavlinProperty_RegexValidator(TavlinProperty_RegexValidator::IpAddress));
    declareRecord(QStringLiteral("port"), TavlinProperty::FreeText, QStringLiteral("0"),
                  QStringLiteral("Port to send datagram to"), new QIntValidator(0, 65535, nullptr));
    declareRecord(QStringLiteral("connect"), TavlinProperty::Boolean, QStringLiteral("false"),
                  QStringLiteral("Enable / disable the connection to the host"));
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
    logInfo(QStringLiteral("%1: Bind to IP %2 port %3")
                .arg(typeKey(), QHostAddress(m_bindAddress).toString())
                .arg(m_bindPort));
}

QString PCom_UdpClient_Port::remoteClosedText() const
{
    return tr("RemoteHostClosedError.");
}

// Unlike the TCP client, a refused open refreshes the property locks.
bool PCom_UdpClient_Port::refreshesLocksOnRefusedOpen() const
{
    return true;
}

// The destination is read on every write, so a new "address" or "port"
// redirects the next datagram even while the port is open; the address is
// parsed once, when "address" changes, not for every datagram. A send error
// releases the socket inside writeDatagram(); it is not touched afterwards.
int PCom_UdpClient_Port::writeByteStream(const char *data, int len)
{
    if (!m_socket)
        return 0;
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
    if (!m_socket || !udpSocket()->hasPendingDatagrams())
        return -1;
    const qint64 size = maxLen >= kLargestDatagram ? 0 : udpSocket()->pendingDatagramSize();
    const qint64 count = udpSocket()->readDatagram(buffer, maxLen);
    if (quint32(count) < size) {
        qWarning().noquote() << QStringLiteral("UDP client: packet dropped in received datagram: %1 ")
                                    .arg(size - quint32(count));
    }
    return int(count) == 0 ? -1 : int(count);
}

QVariant PCom_UdpClient_Port::getTavlinProperty(QString name) const
{
    if (name == QLatin1String("plugin"))
        return pluginText();
    if (name == QLatin1String("port"))
        return int(m_port);
    if (name == QLatin1String("bind-address"))
        return m_bindAddress;
    if (name == QLatin1String("bind-port"))
        return int(m_bindPort);
    if (name == QLatin1String("address"))
        return m_address;
    if (name == QLatin1String("connect"))
        return opened();
    return QVariant();
}

// The bind endpoint applies at the next open.
void PCom_UdpClient_Port::applyProperty(const QString &name, const QVariant &value)
{
    if (name == QLatin1String("port")) {
        m_port = quint16(value.toUInt());
    } else if (name == QLatin1String("bind-address")) {
        m_bindAddress = value.toString();
    } else if (name == QLatin1String("bind-port")) {
        m_bindPort = quint16(value.toUInt());
    } else if (name == QLatin1String("address")) {
        m_address = value.toString();
        m_destination = QHostAddress(m_address);
    }
}

AbstractTreeItem *PCom_UdpClient_Port::createInstance()
{
    return new PCom_UdpClient_Port(device());
}
