#include "tcpclient/PCom_TcpClient_Port.h"

#include "core/PCom_Names.h"
#include "core/PCom_PortStatus.h"
#include "network/PCom_SocketTls.h"

#include <QDebug>
#include <QSslCipher>
#include <QSslSocket>

#include <cstring>
#include <fcntl.h>
#include <linux/tcp.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
// TCP_CLOSE of the kernel's connection states (net/tcp_states.h), which
// linux/tcp.h, the header of the full tcp_info, does not name.
const int kStateClosed = 7;
}

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
    connect(linkStatus(), &PCom_LinkStatus::bytesWritten, this, [this](qint64 count) {
        m_leftForKernel += count;
        finishWriteIfSent();
    });
}

PCom_TcpClient_Port::~PCom_TcpClient_Port()
{
    closeWatch();
}

QAbstractSocket *PCom_TcpClient_Port::createSocket()
{
    m_writeClosing = false;
    closeWatch();
    QTcpSocket *socket = nullptr;
    if (!m_tls->isOn()) {
        socket = new QTcpSocket(nullptr);
    } else {
        auto *tls = new QSslSocket(nullptr);
        tls->setSslConfiguration(m_tls->configuration());
        tls->setPeerVerifyName(m_tls->tls().peerName);
        connect(tls, &QSslSocket::encrypted, this, [this, tls] {
            const QSslCertificate peer = tls->peerCertificate();
            logInfo(QStringLiteral("%1: Encrypted (%2, %3)")
                        .arg(typeKey(), tls->sessionCipher().protocolString(),
                             peer.subjectInfo(QSslCertificate::CommonName).join(QLatin1Char(' '))));
            raiseDataChanged();
        });
        socket = tls;
    }
    connect(socket, &QAbstractSocket::connected, this, &PCom_TcpClient_Port::watchConnection);
    connect(socket, &QAbstractSocket::stateChanged, this, [this](QAbstractSocket::SocketState state) {
        if (state != QAbstractSocket::ConnectedState)
            closeWatch();
    });
    return socket;
}

void PCom_TcpClient_Port::watchConnection()
{
    closeWatch();
    m_leftForKernel = 0;
    m_writeShut = false;
    if (m_socket)
        m_watch = ::fcntl(int(m_socket->socketDescriptor()), F_DUPFD_CLOEXEC, 0);
}

// Closed as soon as the connection leaves its connected state, so that the
// socket ends when Qt closes it.
void PCom_TcpClient_Port::closeWatch()
{
    if (m_watch >= 0)
        ::close(m_watch);
    m_watch = -1;
}

// Qt reads a reset (ECONNRESET) as an end of stream. The kernel knows: a
// connection that the peer reset is closed, one it ended in order waits for
// our close, unless our side had ended already (then only bytes that the
// peer never acknowledged tell a reset). What it did not acknowledge was
// lost.
QString PCom_TcpClient_Port::resetReason()
{
    tcp_info info{};
    socklen_t size = sizeof info;
    const bool known = m_watch >= 0 && ::getsockopt(m_watch, IPPROTO_TCP, TCP_INFO, &info, &size) == 0;
    closeWatch();
    const bool ackKnown = size >= offsetof(tcp_info, tcpi_bytes_acked) + sizeof info.tcpi_bytes_acked;
    const qint64 unacknowledged = ackKnown ? m_leftForKernel - qint64(info.tcpi_bytes_acked) : 0;
    if (!known || info.tcpi_state != kStateClosed || (m_writeShut && unacknowledged <= 0))
        return QString();
    QString reason = QString::fromLocal8Bit(std::strerror(ECONNRESET));
    if (unacknowledged > 0)
        reason += QStringLiteral("; %1 of %2 bytes sent were not acknowledged by the peer")
                      .arg(unacknowledged)
                      .arg(m_leftForKernel);
    return reason;
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
    m_writeShut = true;
    reportWriteFinished();
}
