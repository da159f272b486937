#include "gui/ClientList.h"

#include "core/PCom_ServedClients.h"
#include "hostlib/LogReceiver.h"

ClientList::ClientList(PCom_ServedClients *clients, QWidget *parent)
    : QListWidget(parent), m_clients(clients)
{
    setToolTip(tr("Clients connected now"));
    // The plug-in's own lines say "New connection" without the peer.
    connect(clients, &PCom_ServedClients::clientJoined, this, [this](const PCom_ClientInfo &client) {
        LogReceiver::post(QStringLiteral("info"), tr("tcpServer: client %1 (%2) joined").arg(client.id).arg(client.peer));
        refill();
    });
    connect(clients, &PCom_ServedClients::clientLeft, this, [this](const PCom_ClientInfo &client) {
        LogReceiver::post(QStringLiteral("info"),
                          tr("tcpServer: client %1 (%2) left after %3 bytes in, %4 out")
                              .arg(client.id).arg(client.peer).arg(client.bytesRead).arg(client.bytesWritten));
        refill();
    });
    // Every client is taken: the terminal serves them all.
    clients->setKeepAccepting(true);
    refill();
}

QString ClientList::nameOf(int id) const
{
    for (const PCom_ClientInfo &client : m_clients->clients()) {
        if (client.id == id)
            return tr("client %1 (%2)").arg(id).arg(client.peer);
    }
    return tr("client %1").arg(id);
}

QString ClientList::summary() const
{
    const quint16 port = m_clients->listeningPort();
    if (port == 0)
        return QString();
    const int count = m_clients->clientCount();
    return count == 1 ? tr("listening on port %1, 1 client").arg(port)
                      : tr("listening on port %1, %2 clients").arg(port).arg(count);
}

void ClientList::refill()
{
    clear();
    for (const PCom_ClientInfo &client : m_clients->clients())
        addItem(QStringLiteral("%1  %2").arg(client.id).arg(client.peer));
    emit changed();
}
