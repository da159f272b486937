#pragma once

#include "core/PCom_ServedClients.h"

#include <QHostAddress>
#include <QList>
#include <QPair>

class PCom_PortStatus;
class PCom_TcpServer_SockerOwner;
class QTcpServer;

// The clients of a TCP server port for hosts of ours: a face of the port's
// link-status companion (and its child), on the port's list of socket owners
// and its server (null until created). It keeps the allow-list and the
// accepting policy that the port's newConnection() consults, reads for the
// port one client per call, and carries the port's joined, left and refused
// announcements.
class PCom_TcpServer_Clients : public PCom_ServedClients
{
    Q_OBJECT
public:
    PCom_TcpServer_Clients(PCom_PortStatus *status, const QList<PCom_TcpServer_SockerOwner *> &owners,
                           QTcpServer *const &server);

    QVector<PCom_ClientInfo> clients() const override;
    int clientCount() const override;
    int readClientBytes(char *data, int maxSize, int *id) override;
    bool writeToClient(int id, const QByteArray &data) override;
    bool closeClient(int id, bool flush) override;
    bool setAllowList(const QStringList &subnets) override;
    void setKeepAccepting(bool keep) override;
    quint16 listeningPort() const override;

    bool hasAllowList() const { return !m_allowList.isEmpty(); }
    bool allows(const QHostAddress &address) const;
    bool keepsAccepting() const { return m_keepAccepting; }
    static PCom_ClientInfo infoOf(const PCom_TcpServer_SockerOwner *owner);
    // A closed server has no listening socket to resume (Qt would dereference
    // a null one); a client that finishes disconnecting after close leaves it be.
    void resumeAccepting();

private:
    PCom_TcpServer_SockerOwner *owner(int id) const;

    const QList<PCom_TcpServer_SockerOwner *> &m_owners;
    QTcpServer *const &m_server;
    QList<QPair<QHostAddress, int>> m_allowList;
    bool m_keepAccepting = false;
};
