#pragma once

#include <QSet>
#include <QTcpServer>

class PCom_SocketTls;
class PCom_TcpServer_Clients;
class QSslSocket;

// The listening socket of a TCP server port. Without TLS it hands out plain
// connections as QTcpServer does. With TLS (the port's PCom_SocketTls face
// on) an allowed peer first goes through the server handshake, and its
// connection is pending, with newConnection(), only once encrypted; a
// handshake that fails, or that does not end within handshakeMs, is refused
// through the clients face. A peer off the allow-list is handed out at once
// for the port to refuse, without a handshake.
class PCom_TcpServer_Listener : public QTcpServer
{
    Q_OBJECT
public:
    PCom_TcpServer_Listener(const PCom_SocketTls *tls, PCom_TcpServer_Clients *clients);

    static constexpr int handshakeMs = 10000;
    // Handshakes under way at most: a crowd of peers that connect and stay
    // silent holds no more than this many sockets; the rest are refused.
    static constexpr int maxHandshakes = 32;

protected:
    void incomingConnection(qintptr descriptor) override;

private:
    void onEncrypted(QSslSocket *socket);
    void refuse(QSslSocket *socket, const QString &reason);

    const PCom_SocketTls *m_tls;
    PCom_TcpServer_Clients *m_clients;
    QSet<QSslSocket *> m_handshakes;
};
