#pragma once

#include "core/PCom_Port.h"
#include "tcpserver/PCom_TcpServer_SockerOwner.h"

#include <QHostAddress>
#include <QList>
#include <QPair>
#include <QVariantList>
#include <QVariantMap>
#include <QString>

class QNetworkSession;
class QTcpServer;

// One TCP listening endpoint. The server is created the first time the port
// opens (after a network session, where the platform needs one) and kept
// until the port is destroyed; "connect" starts and stops listening. Every
// accepted client gets a socket owner; writes go to every client.
class PCom_TcpServer_Port : public PCom_Port
{
    Q_OBJECT
public:
    explicit PCom_TcpServer_Port(Plugin_Com_Device *device);
    ~PCom_TcpServer_Port() override;

    int writeByteStream(const char *data, int size) override;
    int readByteStream(char *data, int maxSize) override;

    bool opened() const override;
    bool openPrivate(QFlags<OpenModeFlag> mode) override;
    void closePrivate() override;
    void createServer();

    AbstractTreeItem *createInstance() override;

    // Summed over the clients. A server has no link to lose: a client that
    // goes is announced by the data-changed notice, and clientCount() tells
    // how many remain.
    qint64 bytesToWrite() const override;
    QString lastErrorString() const override;
    void setReadBufferSize(qint64 size) override;
    Q_INVOKABLE int clientCount() const;

    // Per-client control for hosts of ours. Each client is a map with
    // "id" (int, counted from 1 per port), "peer" ("address:port"),
    // "address", "bytesWritten", "bytesRead" and "backlog" (bytes that wait
    // for it); in order of acceptance.
    Q_INVOKABLE QVariantList clients() const;
    // Bytes for one client only (a notice before it is closed, say).
    Q_INVOKABLE bool writeToClient(int id, const QByteArray &data);
    // Closes one client: once what waits for it has left (flush), or at
    // once. It takes no more writes from then on.
    Q_INVOKABLE bool closeClient(int id, bool flush);
    // The peers that may connect, as ADDR[/PREFIX] (IPv4 or IPv6); empty:
    // everyone. Any other client is closed at once, before it is taken
    // over. False, the list unchanged, when an entry is no address.
    Q_INVOKABLE bool setAllowList(const QStringList &subnets);
    // Whether the server goes on accepting while it has a client. By
    // default it pauses at each new client and resumes when one leaves, so
    // a later client waits until then; a host that handles several clients
    // (or turns them away) asks for every one at once.
    Q_INVOKABLE void setKeepAccepting(bool keep);

    // The listening server, null until the port has created it.
    QTcpServer *tcpServer() const { return m_tcpServer; }

signals:
    void clientJoined(const QVariantMap &client);
    void clientLeft(const QVariantMap &client);
    void clientRefused(const QString &peer);

protected:
    void traceSet(const QString &name, const QVariant &value) override;

private slots:
    void sessionOpened();
    void newConnection();
    void disconnected(PCom_TcpServer_SockerOwner *socketOwner);

private:
    void resumeAccepting();
    bool allowed(const QHostAddress &address) const;
    PCom_TcpServer_SockerOwner *owner(int id) const;
    static QVariantMap clientInfo(const PCom_TcpServer_SockerOwner *owner);

    QTcpServer *m_tcpServer = nullptr;
    QNetworkSession *m_networkSession = nullptr;
    bool m_serverCreated = false;
    QList<PCom_TcpServer_SockerOwner *> m_socketOwners;
    quint16 m_port = 0;
    QString m_address;
    QString m_lastError;
    qint64 m_readBufferSize = 0;
    int m_lastClientId = 0;
    bool m_keepAccepting = false;
    QList<QPair<QHostAddress, int>> m_allowList;
};
