#pragma once

#include "core/PCom_Port.h"
#include "tcpserver/PCom_TcpServer_SockerOwner.h"

#include <QList>
#include <QString>

class PCom_SocketTls;
class PCom_TcpServer_Clients;
class QNetworkSession;
class QTcpServer;

// One TCP listening endpoint. The server is created the first time the port
// opens (after a network session, where the platform needs one) and kept
// until the port is destroyed; "connect" starts and stops listening. Every
// accepted client gets a socket owner; writes go to every client. With TLS
// on (the PCom_TlsSettings face) a client is accepted once its handshake is
// over (PCom_TcpServer_Listener).
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
    void abortLink() override;
    // Closing while closed clients still send what they were given: the
    // link has ended only once every byte has left.
    LinkState linkState() const override;
    void createServer();

    AbstractTreeItem *createInstance() override;

    // Summed over the clients. A server has no link to lose: a client that
    // goes is announced by the data-changed notice and by the companion's
    // PCom_ServedClients face (PCom_TcpServer_Clients).
    qint64 bytesToWrite() const override;
    void flush() override;
    QString lastErrorString() const override;
    void setReadBufferSize(qint64 size) override;

    // The listening server, null until the port has created it.
    QTcpServer *tcpServer() const { return m_tcpServer; }

protected:
    void traceSet(const QString &name, const QVariant &value) override;

private slots:
    void sessionOpened();
    void newConnection();
    void disconnected(PCom_TcpServer_SockerOwner *socketOwner);

private:

    QTcpServer *m_tcpServer = nullptr;
    QNetworkSession *m_networkSession = nullptr;
    bool m_serverCreated = false;
    QList<PCom_TcpServer_SockerOwner *> m_socketOwners;
    quint16 m_port = 0;
    QString m_address;
    QString m_lastError;
    qint64 m_readBufferSize = 0;
    int m_lastClientId = 0;
    PCom_TcpServer_Clients *m_clients;
    PCom_SocketTls *m_tls;
};
