#include "tcpserver/PCom_TcpServer_SockerOwner.h"

#include "core/PCom_Release.h"
#include "host/Plugin_Com_Device.h"
#include "network/PCom_SocketTls.h"

#include <QTcpSocket>

namespace {
void logProgress(const QString &what)
{
    Plugin_Com_Device::log(KrLog_Interface::Progress, QStringLiteral("%1: %2").arg(QStringLiteral("tcpServer"), what));
}
}

PCom_TcpServer_SockerOwner::PCom_TcpServer_SockerOwner(QTcpSocket *socket)
    : QObject(nullptr),
      m_socket(socket),
      m_peer(peerText(socket)),
      m_address(plainAddress(socket->peerAddress()).toString())
{
    connect(m_socket, SIGNAL(connected()), this, SLOT(onSocketConnected()));
    connect(m_socket, SIGNAL(hostFound()), this, SLOT(onHostFound()));
    connect(m_socket, SIGNAL(disconnected()), this, SLOT(onSocketDisconnected()));
    PCom_SocketTls::relayReadyRead(m_socket, this, [this] { emit readyRead(); });
    connect(m_socket, SIGNAL(error(QAbstractSocket::SocketError)), this,
            SLOT(displayError(QAbstractSocket::SocketError)));
}

// The socket may be in the middle of emitting the signal that led here, so
// it is only cut off and left to the event loop, which also closes it.
PCom_TcpServer_SockerOwner::~PCom_TcpServer_SockerOwner()
{
    pcomRelease(m_socket);
}

QHostAddress PCom_TcpServer_SockerOwner::plainAddress(const QHostAddress &address)
{
    bool mapped = false;
    const quint32 v4 = address.toIPv4Address(&mapped);
    return mapped && address.protocol() == QAbstractSocket::IPv6Protocol ? QHostAddress(v4) : address;
}

QString PCom_TcpServer_SockerOwner::peerText(const QTcpSocket *socket)
{
    const QHostAddress address = plainAddress(socket->peerAddress());
    const QString text = address.protocol() == QAbstractSocket::IPv6Protocol
                             ? QStringLiteral("[%1]").arg(address.toString())
                             : address.toString();
    return QStringLiteral("%1:%2").arg(text, QString::number(socket->peerPort()));
}

void PCom_TcpServer_SockerOwner::disconnectFromHost()
{
    Plugin_Com_Device::log(KrLog_Interface::Trace,
                           QStringLiteral("%1: PCom_TcpServer_SockerOwner::~disconnectFromHost()")
                               .arg(QStringLiteral("tcpServer")));
    m_socket->disconnectFromHost();
}

void PCom_TcpServer_SockerOwner::onSocketConnected()
{
    logProgress(QStringLiteral("Connected"));
}

void PCom_TcpServer_SockerOwner::onHostFound()
{
    logProgress(QStringLiteral("Host found"));
}

void PCom_TcpServer_SockerOwner::onSocketDisconnected()
{
    logProgress(QStringLiteral("Disconnected"));
    PCom_SocketTls::announceLeftovers(m_socket, [this] { emit readyRead(); });
    emit disconnected(this);
}

void PCom_TcpServer_SockerOwner::displayError(QAbstractSocket::SocketError socketError)
{
    QString text;
    switch (socketError) {
    case QAbstractSocket::RemoteHostClosedError:
        text = tr("The client closed the connection.");
        break;
    case QAbstractSocket::HostNotFoundError:
        text = tr("The host was not found. Please check the host name and port settings.");
        break;
    case QAbstractSocket::ConnectionRefusedError:
        text = tr("The connection was refused by the peer. Make sure the server is running, "
                  "and that the host name and port settings are correct.");
        break;
    default:
        text = tr("The following error occurred: %1.").arg(m_socket->errorString());
        break;
    }
    // Any error ends the connection; the socket's later disconnected()
    // then reaches nobody. The line comes once the host has heard how the
    // client left, from the text alone: the owner is gone by then.
    m_closedByPeer = socketError == QAbstractSocket::RemoteHostClosedError;
    PCom_SocketTls::announceLeftovers(m_socket, [this] { emit readyRead(); });
    emit disconnected(this);
    Plugin_Com_Device::log(KrLog_Interface::Error, text);
}
