#pragma once

#include <QAbstractSocket>
#include <QObject>

class QTcpSocket;

// One accepted client connection of a TCP server port. It owns the socket,
// logs the socket's events and tells the port when the connection is over.
// The port destroys the owner while it is still emitting disconnected(), so
// every emission of that signal is the owner's last action.
class PCom_TcpServer_SockerOwner : public QObject
{
    Q_OBJECT
public:
    explicit PCom_TcpServer_SockerOwner(QTcpSocket *socket);
    ~PCom_TcpServer_SockerOwner() override;

    QTcpSocket *socket() const { return m_socket; }

    // Asks the client to disconnect. The owner may be destroyed before this
    // returns, when the socket disconnects at once.
    void disconnectFromHost();

signals:
    void disconnected(PCom_TcpServer_SockerOwner *socket);
    void readyRead();

private slots:
    void onSocketConnected();
    void onHostFound();
    void onSocketDisconnected();
    void displayError(QAbstractSocket::SocketError socketError);

private:
    QTcpSocket *m_socket;
};
