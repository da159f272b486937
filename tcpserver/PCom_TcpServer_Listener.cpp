#include "tcpserver/PCom_TcpServer_Listener.h"

#include "host/Plugin_Com_Device.h"
#include "network/PCom_SocketTls.h"
#include "tcpserver/PCom_TcpServer_Clients.h"
#include "tcpserver/PCom_TcpServer_SockerOwner.h"

#include <QSslSocket>
#include <QTimer>

PCom_TcpServer_Listener::PCom_TcpServer_Listener(const PCom_SocketTls *tls, PCom_TcpServer_Clients *clients)
    : QTcpServer(nullptr), m_tls(tls), m_clients(clients)
{
}

void PCom_TcpServer_Listener::incomingConnection(qintptr descriptor)
{
    if (!m_tls->isOn()) {
        QTcpServer::incomingConnection(descriptor);
        return;
    }
    // As QTcpServer's own: a descriptor that Qt cannot take leaves an
    // unconnected socket, which the handshake timeout refuses.
    auto *socket = new QSslSocket(this);
    socket->setSocketDescriptor(descriptor);
    if (!m_clients->allows(socket->peerAddress())) {
        addPendingConnection(socket);
        return;
    }
    if (m_handshakes.size() >= maxHandshakes) {
        refuse(socket, QStringLiteral("%1 TLS handshakes under way already").arg(maxHandshakes));
        return;
    }
    m_handshakes.insert(socket);
    socket->setSslConfiguration(m_tls->configuration());
    connect(socket, &QSslSocket::encrypted, this, [this, socket] { onEncrypted(socket); });
    // Every way a handshake fails ends in the unconnected state; Qt's error
    // text says why.
    connect(socket, &QAbstractSocket::stateChanged, this, [this, socket](QAbstractSocket::SocketState state) {
        if (state == QAbstractSocket::UnconnectedState)
            refuse(socket, socket->error() == QAbstractSocket::UnknownSocketError
                               ? QStringLiteral("the peer left during the TLS handshake")
                               : socket->errorString());
    });
    QTimer::singleShot(handshakeMs, socket, [this, socket] {
        if (m_handshakes.contains(socket))
            refuse(socket, QStringLiteral("no TLS handshake within %1 s").arg(handshakeMs / 1000));
    });
    socket->startServerEncryption();
}

// A server closed meanwhile would keep the client pending, unserved.
void PCom_TcpServer_Listener::onEncrypted(QSslSocket *socket)
{
    if (!isListening()) {
        refuse(socket, QStringLiteral("the server stopped listening"));
        return;
    }
    m_handshakes.remove(socket);
    socket->disconnect(this);
    addPendingConnection(socket);
    emit newConnection();
}

// Runs inside the socket's own signals: it is only released here. The host
// that set TLS up hears of it with the reason; the framework's log only
// traces it.
void PCom_TcpServer_Listener::refuse(QSslSocket *socket, const QString &reason)
{
    m_handshakes.remove(socket);
    socket->disconnect(this);
    const QString peer = PCom_TcpServer_SockerOwner::peerText(socket);
    Plugin_Com_Device::log(KrLog_Interface::Trace,
                           QStringLiteral("tcpServer: refused the TLS client %1: %2").arg(peer, reason));
    socket->abort();
    socket->deleteLater();
    emit m_clients->clientRefused(peer, PCom_ServedClients::Refusal::Tls, reason);
}
