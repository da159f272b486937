#include "PCom_TcpClient_Port.h"

#include "PCom_NetworkSession.h"
#include "PCom_Release.h"
#include "TavlinProperty_RegexValidator.h"

#include <QDebug>
#include <QIntValidator>
#include <QTcpSocket>

static const QString s_typeKey = QStringLiteral("tcpClient");

static void logInfo(const QString &text)
{
    qInfo().noquote() << text;
}

PCom_TcpClient_Port::PCom_TcpClient_Port(Plugin_Com_Device *device)
    : PCom_Port(device, s_typeKey)
{
    const Version since(QStringLiteral("2.12"));
    const Version open(-1, 0, 0);

    TavlinProperty *plugin = declareProperty(QStringLiteral("plugin"), TavlinProperty::FreeText, QString());
    plugin->description = QStringLiteral("Plugin name");
    plugin->setSupportedVersion(since, open);
    plugin->setWritable(false);

    TavlinProperty *address = declareProperty(QStringLiteral("address"), TavlinProperty::FreeText,
                                              QStringLiteral("127.0.0.1"), true);
    address->description = QStringLiteral("Server IP address to connect to");
    address->setSupportedVersion(since, open);
    address->setValidator(new TavlinProperty_RegexValidator(TavlinProperty_RegexValidator::IpAddress));

    TavlinProperty *port = declareProperty(QStringLiteral("port"), TavlinProperty::FreeText,
                                           QStringLiteral("0"), true);
    port->description = QStringLiteral("Server port to connect to");
    port->setSupportedVersion(since, open);
    port->setValidator(new QIntValidator(0, 65535, nullptr));

    TavlinProperty *connectProp = declareProperty(QStringLiteral("connect"), TavlinProperty::Boolean,
                                                  QStringLiteral("false"));
    connectProp->description = QStringLiteral("Enable / disable the connection to the server");
    connectProp->setSupportedVersion(since, open);
}

PCom_TcpClient_Port::~PCom_TcpClient_Port()
{
    pcomRelease(m_socket);
    pcomRelease(m_networkSession);
}

bool PCom_TcpClient_Port::opened() const
{
    return m_socket != nullptr;
}

bool PCom_TcpClient_Port::openPrivate(QFlags<OpenModeFlag>)
{
    if (m_socket)
        return false;

    m_socket = new QTcpSocket(nullptr);
    connect(m_socket, SIGNAL(hostFound()), this, SLOT(onHostFound()));
    connect(m_socket, SIGNAL(connected()), this, SLOT(onSocketConnected()));
    connect(m_socket, SIGNAL(disconnected()), this, SLOT(onSocketDisconnected()));
    connect(m_socket, SIGNAL(readyRead()), this, SIGNAL(readyRead()));
    connect(m_socket, SIGNAL(error(QAbstractSocket::SocketError)), this,
            SLOT(onDisplayError(QAbstractSocket::SocketError)));

    startNetworkSession(this, m_networkSession, s_typeKey, &PCom_TcpClient_Port::onSessionOpened, logInfo,
                        &PCom_TcpClient_Port::onSessionFailed);
    updatePropertiesState();
    return true;
}

// Only a connected socket is asked to finish; it is released when it
// reports the end of the link. A socket still waiting for its session,
// looking up the host or connecting would never report an end (or would
// connect after all), so closing gives it up at once.
void PCom_TcpClient_Port::closePrivate()
{
    if (!m_socket)
        return;
    const QAbstractSocket::SocketState state = m_socket->state();
    if (state != QAbstractSocket::ConnectedState && state != QAbstractSocket::ClosingState) {
        m_socket->abort();
        dropPendingOpen();
        return;
    }
    m_socket->disconnectFromHost();
    updatePropertiesState();
}

void PCom_TcpClient_Port::onSessionOpened()
{
    logInfo(QStringLiteral("%1: Session opened").arg(s_typeKey));
    if (m_socket) {
        logInfo(QStringLiteral("%1: Connecting to host...").arg(s_typeKey));
        m_socket->connectToHost(m_address, m_port, QIODevice::ReadWrite, QAbstractSocket::AnyIPProtocol);
    }
}

// Reported whatever the socket's state; only a socket still waiting for the
// failed session is given up, since nothing else would ever release it.
void PCom_TcpClient_Port::onSessionFailed()
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
void PCom_TcpClient_Port::dropPendingOpen()
{
    pcomRelease(m_networkSession);
    onSocketDisconnected();
}

void PCom_TcpClient_Port::onHostFound()
{
    logInfo(QStringLiteral("%1: Host found").arg(s_typeKey));
}

void PCom_TcpClient_Port::onSocketConnected()
{
    logInfo(QStringLiteral("%1: Connected").arg(s_typeKey));
}

// Runs inside the socket's own signal: the socket is only marked for
// deletion, and no further signal of it reaches the port.
void PCom_TcpClient_Port::onSocketDisconnected()
{
    if (m_socket) {
        logInfo(QStringLiteral("%1: Disconnected").arg(s_typeKey));
        pcomRelease(m_socket);
    }
    updatePropertiesState();
    raiseDataChanged();
}

void PCom_TcpClient_Port::onDisplayError(QAbstractSocket::SocketError socketError)
{
    switch (socketError) {
    case QAbstractSocket::RemoteHostClosedError:
        qCritical().noquote() << tr("The server closed the connection.");
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

int PCom_TcpClient_Port::writeByteStream(const char *data, int len)
{
    if (!m_socket)
        return 0;
    const qint64 written = m_socket->write(data, qint64(len));
    if (written == len)
        return len;
    qCritical().noquote() << QStringLiteral("PCom_TcpClient_Port: %1 byte could not be send")
                                 .arg(bytesNotAccepted(len, written));
    return int(written);
}

int PCom_TcpClient_Port::readByteStream(char *buffer, int maxLen)
{
    if (!m_socket || m_socket->bytesAvailable() == 0)
        return -1;
    const int count = int(m_socket->read(buffer, maxLen));
    return count == 0 ? -1 : count;
}

QVariant PCom_TcpClient_Port::getTavlinProperty(QString name) const
{
    if (name == QLatin1String("plugin"))
        return pluginText();
    if (name == QLatin1String("port"))
        return int(m_port);
    if (name == QLatin1String("address"))
        return m_address;
    if (name == QLatin1String("connect"))
        return opened();
    return QVariant();
}

// The endpoint is stored even while open; it takes effect at the next open.
void PCom_TcpClient_Port::applyProperty(const QString &name, const QVariant &value)
{
    if (name == QLatin1String("port"))
        m_port = quint16(value.toUInt());
    else if (name == QLatin1String("address"))
        m_address = value.toString();
}

AbstractTreeItem *PCom_TcpClient_Port::createInstance()
{
    return new PCom_TcpClient_Port(device());
}
