#include "tcpclient/PCom_TcpClient_Port.h"

#include "core/PCom_Names.h"
#include "core/PCom_PortStatus.h"
#include "network/PCom_SocketTls.h"

#include <QDebug>
#include <QSslCipher>
#include <QSslSocket>

#include <sys/socket.h>

PCom_TcpClient_Port::PCom_TcpClient_Port(Plugin_Com_Device *device)
    : PCom_SocketClientPort(device, PCom_Names::tcpClient()), m_tls(new PCom_SocketTls(portStatus(), false))
{
    // The endpoint is stored even while open; it takes effect at the next open.
    declareRecords(
        {
            endpointRecord(QStringLiteral("address"), QStringLiteral("127.0.0.1"),
                           QStringLiteral("Server IP address to connect to"), Check::IpAddress,
                           [this] { return QVariant(m_address); },
                           [this](const QVariant &value) { m_address = value.toString(); }),
            endpointRecord(QStringLiteral("port"), QStringLiteral("0"), QStringLiteral("Server port to connect to"),
                           Check::PortNumber, [this] { return QVariant(int(m_port)); },
                           [this](const QVariant &value) { m_port = quint16(value.toUInt()); }),
        },
        QStringLiteral("Enable / disable the connection to the server"), Shown::From212);
    connect(linkStatus(), &PCom_LinkStatus::bytesWritten, this, [this] { finishWriteIfSent(); });
}

QAbstractSocket *PCom_TcpClient_Port::createSocket()
{
    m_writeClosing = false;
    if (!m_tls->isOn())
        return new QTcpSocket(nullptr);
    auto *socket = new QSslSocket(nullptr);
    socket->setSslConfiguration(m_tls->configuration());
    socket->setPeerVerifyName(m_tls->tls().peerName);
    connect(socket, &QSslSocket::encrypted, this, [this, socket] {
        const QSslCertificate peer = socket->peerCertificate();
        logInfo(QStringLiteral("%1: Encrypted (%2, %3)")
                    .arg(typeKey(), socket->sessionCipher().protocolString(),
                         peer.subjectInfo(QSslCertificate::CommonName).join(QLatin1Char(' '))));
        raiseDataChanged();
    });
    return socket;
}

// The address may be a host name; the socket resolves it. Over TLS the
// server's certificate must carry the peer name, by default that address.
void PCom_TcpClient_Port::startLink()
{
    if (auto *tls = qobject_cast<QSslSocket *>(m_socket))
        tls->connectToHostEncrypted(m_address, m_port, QIODevice::ReadWrite, QAbstractSocket::AnyIPProtocol);
    else
        m_socket->connectToHost(m_address, m_port, QIODevice::ReadWrite, QAbstractSocket::AnyIPProtocol);
}

PCom_LinkStatus::LinkState PCom_TcpClient_Port::linkState() const
{
    const LinkState state = PCom_SocketClientPort::linkState();
    const auto *tls = qobject_cast<const QSslSocket *>(m_socket);
    return state == LinkState::Open && tls && !tls->isEncrypted() ? LinkState::Opening : state;
}

PCom_SocketClientPort::ErrorTexts PCom_TcpClient_Port::errorTexts() const
{
    return {QT_TR_NOOP("The server closed the connection."),
            QT_TR_NOOP("The host was not found. Please check the host name and port settings."),
            QT_TR_NOOP("The connection was refused by the peer. Make sure the server is running, and that the "
                       "host name and port settings are correct."),
            QT_TR_NOOP("The following error occurred: %1.")};
}

bool PCom_TcpClient_Port::refreshesLocksOnRefusedOpen() const
{
    return false;
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

AbstractTreeItem *PCom_TcpClient_Port::createInstance()
{
    return new PCom_TcpClient_Port(device());
}

// Qt's sockets close both directions at once; the write direction alone is
// ended with shutdown() once Qt has handed every queued byte to the kernel,
// which sends them before the end of stream.
bool PCom_TcpClient_Port::closeWrite()
{
    if (!m_socket || m_socket->state() != QAbstractSocket::ConnectedState || qobject_cast<QSslSocket *>(m_socket))
        return false;
    m_writeClosing = true;
    finishWriteIfSent();
    return true;
}

void PCom_TcpClient_Port::finishWriteIfSent()
{
    if (!m_writeClosing || !m_socket || PCom_SocketTls::backlog(m_socket) > 0)
        return;
    m_writeClosing = false;
    ::shutdown(int(m_socket->socketDescriptor()), SHUT_WR);
    reportWriteFinished();
}
