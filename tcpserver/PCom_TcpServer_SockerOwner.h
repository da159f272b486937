#pragma once

#include <QAbstractSocket>
#include <QHostAddress>
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

    // What a host of ours sees of the client: a number of the port's own,
    // the peer as "address:port" ("[v6]:port"), the bytes that left for it
    // and that were read from it. A leaving client is being closed by the
    // host: it takes no more writes and gives no more reads.
    int id() const { return m_id; }
    void setId(int id) { m_id = id; }
    QString peer() const { return m_peer; }
    QString address() const { return m_address; }
    qint64 bytesWritten() const { return m_written; }
    qint64 bytesRead() const { return m_read; }
    void addWritten(qint64 count) { m_written += count; }
    void addRead(qint64 count) { m_read += count; }
    bool isLeaving() const { return m_leaving; }
    // The client ended the connection in order.
    bool closedByPeer() const { return m_closedByPeer; }
    void setLeaving() { m_leaving = true; }
    // The peer address with IPv4-mapped IPv6 addresses (a dual-stack
    // server's IPv4 clients) in their IPv4 form.
    static QHostAddress plainAddress(const QHostAddress &address);
    static QString peerText(const QTcpSocket *socket);

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
    // Kept from the start: a socket forgets its peer once disconnected.
    QString m_peer;
    QString m_address;
    int m_id = 0;
    qint64 m_written = 0;
    qint64 m_read = 0;
    bool m_leaving = false;
    bool m_closedByPeer = false;
};
