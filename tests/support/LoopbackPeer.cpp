#include "tests/support/LoopbackPeer.h"

LoopbackPeer::LoopbackPeer(QObject *parent)
    : QObject(parent)
{
    connect(&m_server, &QTcpServer::newConnection, this, [this]() {
        if (QTcpSocket *socket = m_server.nextPendingConnection())
            m_socket ? socket->abort() : adopt(socket);
    });
}

// The server's sockets go with it, after the members they would report to.
LoopbackPeer::~LoopbackPeer()
{
    if (m_socket)
        m_socket->disconnect(this);
}

quint16 LoopbackPeer::freePort()
{
    QTcpServer probe;
    return probe.listen(QHostAddress::LocalHost, 0) ? probe.serverPort() : 0;
}

bool LoopbackPeer::connectTo(quint16 port, int timeoutMs, const QHostAddress &address)
{
    auto *socket = new QTcpSocket(this);
    adopt(socket);
    socket->connectToHost(address, port);
    return socket->waitForConnected(timeoutMs);
}

void LoopbackPeer::adopt(QTcpSocket *socket)
{
    m_socket = socket;
    connect(socket, &QTcpSocket::readyRead, this, &LoopbackPeer::onReadyRead);
    connect(socket, &QTcpSocket::disconnected, this, [this]() {
        onReadyRead();
        m_disconnected = true;
    });
}

void LoopbackPeer::onReadyRead()
{
    if (m_socket && m_socket->isReadable())
        m_received += m_socket->readAll();
}
