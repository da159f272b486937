#include "tcpserver/PCom_TcpServer_Clients.h"

#include "core/PCom_PortStatus.h"
#include "network/PCom_SocketTls.h"
#include "tcpserver/PCom_TcpServer_SockerOwner.h"

#include <QTcpServer>
#include <QTcpSocket>

PCom_TcpServer_Clients::PCom_TcpServer_Clients(PCom_PortStatus *status,
                                               const QList<PCom_TcpServer_SockerOwner *> &owners,
                                               QTcpServer *const &server)
    : PCom_ServedClients(status), m_owners(owners), m_server(server)
{
    qRegisterMetaType<PCom_ClientInfo>();
    qRegisterMetaType<PCom_ServedClients::Refusal>();
}

PCom_ClientInfo PCom_TcpServer_Clients::infoOf(const PCom_TcpServer_SockerOwner *owner)
{
    PCom_ClientInfo info;
    info.id = owner->id();
    info.peer = owner->peer();
    info.address = owner->address();
    info.bytesWritten = owner->bytesWritten();
    info.bytesRead = owner->bytesRead();
    info.backlog = PCom_SocketTls::backlog(owner->socket());
    if (owner->closedByPeer())
        info.loss = PCom_LinkStatus::LossKind::PeerClosed;
    return info;
}

QVector<PCom_ClientInfo> PCom_TcpServer_Clients::clients() const
{
    QVector<PCom_ClientInfo> list;
    for (const PCom_TcpServer_SockerOwner *owner : m_owners)
        list.append(infoOf(owner));
    return list;
}

int PCom_TcpServer_Clients::clientCount() const
{
    return m_owners.size();
}

PCom_TcpServer_SockerOwner *PCom_TcpServer_Clients::owner(int id) const
{
    for (PCom_TcpServer_SockerOwner *owner : m_owners) {
        if (owner->id() == id)
            return owner;
    }
    return nullptr;
}

// One client per call: the first, in order of acceptance, that holds bytes.
// Bytes of different clients therefore never overwrite one another in the
// caller's buffer, and whatever a call leaves behind, of this client or of
// the next, is served by the following calls.
int PCom_TcpServer_Clients::readClientBytes(char *data, int maxSize, int *id)
{
    const auto owners = m_owners;
    for (PCom_TcpServer_SockerOwner *owner : owners) {
        QTcpSocket *socket = owner->socket();
        if (owner->isLeaving() || socket->bytesAvailable() == 0)
            continue;
        const qint64 count = socket->read(data, maxSize);
        owner->addRead(qMax<qint64>(0, count));
        if (id)
            *id = owner->id();
        return count > 0 ? int(count) : -1;
    }
    return -1;
}

bool PCom_TcpServer_Clients::writeToClient(int id, const QByteArray &data)
{
    PCom_TcpServer_SockerOwner *client = owner(id);
    return client && !client->isLeaving() && client->socket()->write(data) == data.size();
}

// Without flush the socket is aborted, and the usual chain (its log line,
// removal, clientLeft) runs before this returns.
bool PCom_TcpServer_Clients::closeClient(int id, bool flush)
{
    PCom_TcpServer_SockerOwner *client = owner(id);
    if (!client)
        return false;
    client->setLeaving();
    if (flush)
        client->disconnectFromHost();
    else
        client->socket()->abort();
    return true;
}

bool PCom_TcpServer_Clients::setAllowList(const QStringList &subnets)
{
    QList<QPair<QHostAddress, int>> list;
    for (const QString &text : subnets) {
        const QPair<QHostAddress, int> subnet = QHostAddress::parseSubnet(text);
        if (subnet.first.isNull())
            return false;
        list.append(subnet);
    }
    m_allowList = list;
    return true;
}

void PCom_TcpServer_Clients::setKeepAccepting(bool keep)
{
    m_keepAccepting = keep;
    if (keep)
        resumeAccepting();
}

quint16 PCom_TcpServer_Clients::listeningPort() const
{
    return m_server && m_server->isListening() ? m_server->serverPort() : 0;
}

void PCom_TcpServer_Clients::resumeAccepting()
{
    if (m_server && m_server->isListening())
        m_server->resumeAccepting();
}

bool PCom_TcpServer_Clients::allows(const QHostAddress &address) const
{
    if (m_allowList.isEmpty())
        return true;
    const QHostAddress plain = PCom_TcpServer_SockerOwner::plainAddress(address);
    for (const auto &subnet : m_allowList) {
        if (plain.isInSubnet(subnet))
            return true;
    }
    return false;
}
