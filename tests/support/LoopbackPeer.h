#pragma once

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>

// A TCP peer on loopback for the pcom tests: either a server that accepts
// one connection or a client, collecting what arrives.
class LoopbackPeer : public QObject
{
    Q_OBJECT
public:
    explicit LoopbackPeer(QObject *parent = nullptr);
    ~LoopbackPeer() override;

    // A TCP port on 127.0.0.1 that was free a moment ago (for a virtualcan
    // relay, say, which has to be told its port); 0 when none was.
    static quint16 freePort();

    // Server side: listens on 127.0.0.1 and that port, or one that the
    // system picks.
    bool listen(quint16 port = 0) { return m_server.listen(QHostAddress::LocalHost, port); }
    quint16 serverPort() const { return m_server.serverPort(); }
    // Client side.
    bool connectTo(quint16 port, int timeoutMs = 5000,
                   const QHostAddress &address = QHostAddress(QHostAddress::LocalHost));

    bool hasConnection() const { return m_socket != nullptr; }
    bool isDisconnected() const { return m_disconnected; }
    QByteArray received() const { return m_received; }
    QTcpSocket *socket() const { return m_socket; }
    void send(const QByteArray &data) { if (m_socket) m_socket->write(data); }
    void close() { if (m_socket) m_socket->disconnectFromHost(); }

private:
    void adopt(QTcpSocket *socket);
    void onReadyRead();

    QTcpServer m_server;
    QPointer<QTcpSocket> m_socket;
    QByteArray m_received;
    bool m_disconnected = false;
};
