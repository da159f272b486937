#include "tcpserver/PCom_TcpServer_Clients.h"

#include "tcpserver/PCom_TcpServer_Port.h"

#include <QTcpServer>
#include <QTcpSocket>

PCom_TcpServer_Clients::PCom_TcpServer_Clients(PCom_TcpServer_Port *port)
    : PCom_ServedClients(port->linkStatus()), m_port(port)
{
    qRegisterMetaType<PCom_ClientInfo>();
}

PCom_ClientInfo PCom_TcpServer_Clients::infoOf(const PCom_TcpServer_SockerOwner *owner)
{
    PCom_ClientInfo info;
    info.id = owner->id();
    info.peer = owner->peer();
    info.address = owner->address();
    info.bytesWritten = owner->bytesWritten();
    info.bytesRead = owner->bytesRead();
    info.backlog = owner->socket()->bytesToWrite();
    return info;
}

QVector<PCom_ClientInfo> PCom_TcpServer_Clients::clients() const
{
    QVector<PCom_ClientInfo> list;
    for (const PCom_TcpServer_SockerOwner *owner : m_port->m_socketOwners)
        list.append(infoOf(owner));
    return list;
}

int PCom_TcpServer_Clients::clientCount() const
{
    return m_port->m_socketOwners.size();
}

PCom_TcpServer_SockerOwner *PCom_TcpServer_Clients::owner(int id) const
{
    for (PCom_TcpServer_SockerOwner *owner : m_port->m_socketOwners) {
        if (owner->id() == id)
            return owner;
    }
    return nullptr;
}

int PCom_TcpServer_Clients::readClientBytes(char *data, int maxSize, int *id)
{
    return m_port->readNext(data, maxSize, id);
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
        m_port->resumeAccepting();
}

quint16 PCom_TcpServer_Clients::listeningPort() const
{
    const QTcpServer *server = m_port->m_tcpServer;
    return server && server->isListening() ? server->serverPort() : 0;
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
