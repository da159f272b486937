#include "PCom_UdpClient_Port.h"

#include "PCom_NetworkSession.h"
#include "PCom_Release.h"
#include "TavlinProperty_RegexValidator.h"

#include <QDebug>
#include <QHostAddress>
#include <QIntValidator>
#include <QUdpSocket>

static const QString s_typeKey = QStringLiteral("udpClient");
// The length field of a UDP header bounds every datagram.
static const int kLargestDatagram = 65535;

static void logInfo(const QString &text)
{
    qInfo().noquote() << text;
}

PCom_UdpClient_Port::PCom_UdpClient_Port(Plugin_Com_Device *device)
    : PCom_Port(device, s_typeKey)
{
    const Version since(QStringLiteral("2.12"));
    const Version open(-1, 0, 0);

    TavlinProperty *plugin = declareProperty(QStringLiteral("plugin"), TavlinProperty::FreeText, QString());
    plugin->description = QStringLiteral("Plugin name");
    plugin->setSupportedVersion(since, open);
    plugin->setWritable(false);

    TavlinProperty *bindAddress = declareProperty(QStringLiteral("bind-address"), TavlinProperty::FreeText,
                                                  QStringLiteral("0"), true);
    bindAddress->description = QStringLiteral("UDP bind IP address (Host to listen from)");
    bindAddress->setSupportedVersion(since, open);
    bindAddress->setValidator(new TavlinProperty_RegexValidator(TavlinProperty_RegexValidator::IpAddress));

    TavlinProperty *bindPort = declareProperty(QStringLiteral("bind-port"), TavlinProperty::FreeText,
                                               QStringLiteral("0"), true);
    bindPort->description = QStringLiteral("UDP bind IP port (Host to listen from)");
    bindPort->setSupportedVersion(since, open);
    bindPort->setValidator(new QIntValidator(0, 65535, nullptr));

    TavlinProperty *address = declareProperty(QStringLiteral("address"), TavlinProperty::FreeText,
                                              QStringLiteral("127.0.0.1"), true);
    address->description = QStringLiteral("IP address to send datagram to");
    address->setSupportedVersion(since, open);
    address->setValidator(new TavlinProperty_RegexValidator(TavlinProperty_RegexValidator::IpAddress));

    TavlinProperty *port = declareProperty(QStringLiteral("port"), TavlinProperty::FreeText,
                                           QStringLiteral("0"), true);
    port->description = QStringLiteral("Port to send datagram to");
    port->setSupportedVersion(since, open);
    port->setValidator(new QIntValidator(0, 65535, nullptr));

    TavlinProperty *connectProp = declareProperty(QStringLiteral("connect"), TavlinProperty::Boolean,
                                                  QStringLiteral("false"));
    connectProp->description = QStringLiteral("Enable / disable the connection to the host");
    connectProp->setSupportedVersion(since, open);
}

PCom_UdpClient_Port::~PCom_UdpClient_Port()
{
    pcomRelease(m_socket);
    pcomRelease(m_networkSession);
}

bool PCom_UdpClient_Port::opened() const
{
    return m_socket != nullptr;
}

// Unlike the TCP client, a refused open refreshes the property locks.
bool PCom_UdpClient_Port::openPrivate(QFlags<OpenModeFlag>)
{
    if (m_socket) {
        updatePropertiesState();
        return false;
    }

    m_socket = new QUdpSocket(nullptr);
    connect(m_socket, SIGNAL(hostFound()), this, SLOT(onHostFound()));
    connect(m_socket, SIGNAL(connected()), this, SLOT(onSocketConnected()));
    connect(m_socket, SIGNAL(disconnected()), this, SLOT(onSocketDisconnected()));
    connect(m_socket, SIGNAL(readyRead()), this, SIGNAL(readyRead()));
    connect(m_socket, SIGNAL(error(QAbstractSocket::SocketError)), this,
            SLOT(onDisplayError(QAbstractSocket::SocketError)));

    startNetworkSession(this, m_networkSession, s_typeKey, &PCom_UdpClient_Port::onSessionOpened, logInfo,
                        &PCom_UdpClient_Port::onSessionFailed);
    updatePropertiesState();
    return true;
}

// A socket that is not bound yet (it still waits for its session) would
// never report anything, so closing drops it at once instead of leaving the
// port opened for good. A bound socket reports its end from
// disconnectFromHost() and is released then.
void PCom_UdpClient_Port::closePrivate()
{
    if (!m_socket)
        return;
    if (m_socket->state() == QAbstractSocket::UnconnectedState) {
        dropPendingOpen();
        return;
    }
    m_socket->disconnectFromHost();
    updatePropertiesState();
}

// A failed bind reports its error, and so releases the socket, inside
// bind(); the bind line is written afterwards all the same, from the
// members only.
void PCom_UdpClient_Port::onSessionOpened()
{
    logInfo(QStringLiteral("%1: Session opened").arg(s_typeKey));
    if (m_socket) {
        logInfo(QStringLiteral("%1: Connecting to host...").arg(s_typeKey));
        m_socket->bind(QHostAddress(m_bindAddress), m_bindPort, QAbstractSocket::DefaultForPlatform);
        logInfo(QStringLiteral("%1: Bind to IP %2 port %3")
                    .arg(s_typeKey, QHostAddress(m_bindAddress).toString())
                    .arg(m_bindPort));
    }
}

// Reported whatever the socket's state; only a socket still waiting for the
// failed session is given up, since nothing else would ever release it.
void PCom_UdpClient_Port::onSessionFailed()
{
    QT_WARNING_PUSH
    QT_WARNING_DISABLE_DEPRECATED
    qCritical().noquote() << QStringLiteral("%1: Network session failed: %2")
                                 .arg(s_typeKey, m_networkSession ? m_networkSession->errorString() : QString());
    QT_WARNING_POP
    if (m_socket && m_socket->state() == QAbstractSocket::UnconnectedState)
        dropPendingOpen();
}

// The session is released with the socket: opening it later would only
// report "Session opened" for a port that no longer waits for it.
void PCom_UdpClient_Port::dropPendingOpen()
{
    pcomRelease(m_networkSession);
    onSocketDisconnected();
}

void PCom_UdpClient_Port::onHostFound()
{
    logInfo(QStringLiteral("%1: Host found").arg(s_typeKey));
}

void PCom_UdpClient_Port::onSocketConnected()
{
    logInfo(QStringLiteral("%1: Connected").arg(s_typeKey));
}

// Runs inside the socket's own signal: the socket is only marked for
// deletion, and no further signal of it reaches the port.
void PCom_UdpClient_Port::onSocketDisconnected()
{
    if (m_socket) {
        logInfo(QStringLiteral("%1: Disconnected").arg(s_typeKey));
        pcomRelease(m_socket);
    }
    updatePropertiesState();
    raiseDataChanged();
}

void PCom_UdpClient_Port::onDisplayError(QAbstractSocket::SocketError socketError)
{
    switch (socketError) {
    case QAbstractSocket::RemoteHostClosedError:
        qCritical().noquote() << tr("RemoteHostClosedError.");
        break;
    case QAbstractSocket::HostNotFoundError:
        qCritical().noquote() << tr("The host was not found. Please check the host name and port settings.");
        break;
    case QAbstractSocket::ConnectionRefusedError:
        qCritical().noquote() << tr("The connection was refused by the peer. Make sure the server is running, "
                                    "and that the host name and port settings are correct.");
        break;
    default:
        qCritical().noquote() << tr("The following error occurred: %1.")
                                     .arg(m_socket ? m_socket->errorString() : QString());
        break;
    }
    onSocketDisconnected();
}

// The destination is read on every write, so a new "address" or "port"
// redirects the next datagram even while the port is open; the address is
// parsed once, when "address" changes, not for every datagram. A send error
// releases the socket inside writeDatagram(); it is not touched afterwards.
int PCom_UdpClient_Port::writeByteStream(const char *data, int len)
{
    if (!m_socket)
        return 0;
    const qint64 sent = m_socket->writeDatagram(data, qint64(len), m_destination, m_port);
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
    if (!m_socket || !m_socket->hasPendingDatagrams())
        return -1;
    const qint64 size = maxLen >= kLargestDatagram ? 0 : m_socket->pendingDatagramSize();
    const qint64 count = m_socket->readDatagram(buffer, maxLen);
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
