#include "hostlib/Rfc2217Server.h"

#include "core/PCom_SerialLine.h"
#include "core/PCom_ServedClients.h"
#include "hostlib/LogReceiver.h"
#include "hostlib/PluginHost.h"
#include "hostlib/PortLink.h"
#include "hostlib/PortReader.h"
#include "hostlib/PortWriter.h"

Rfc2217Server::Rfc2217Server(PortLink *network, PortLink *serial, QObject *parent)
    : QObject(parent),
      m_network(network),
      m_serial(serial),
      m_served(PluginHost::face<PCom_ServedClients>(network->port())),
      m_clients(PluginHost::face<PCom_SerialLine>(serial->port()))
{
    if (!m_served || !PluginHost::face<PCom_SerialLine>(serial->port())) {
        LogReceiver::post(QStringLiteral("error"), QStringLiteral("RFC 2217 needs a serial line served to TCP clients; "
                                                                  "the bytes are relayed as they are"));
        m_served = nullptr;
        return;
    }
    connect(m_served, &PCom_ServedClients::clientJoined, this, &Rfc2217Server::onJoined);
    connect(m_served, &PCom_ServedClients::clientLeft, this, &Rfc2217Server::onLeft);
    m_poll.setInterval(pollMs);
    connect(&m_poll, &QTimer::timeout, this, &Rfc2217Server::poll);
}

// Runs in the middle of the reader's emission, which says whose bytes these are.
QByteArray Rfc2217Server::decode(const char *data, int size)
{
    if (!m_served)
        return QByteArray(data, size);
    const int client = m_network->reader()->client();
    QByteArray replies;
    const QByteArray forLine = m_clients.takeFromClient(client, data, size, &replies);
    send(client, replies);
    followSuspension();
    followPolling();
    return forLine;
}

QByteArray Rfc2217Server::encode(const char *data, int size)
{
    return m_served ? Rfc2217Session::toClient(data, size) : QByteArray(data, size);
}

// The session starts at once, so that nothing the client sends finds none;
// the offers go from the event loop, after the client policy has had its
// say: a client that it turns away takes no more writes and hears none.
void Rfc2217Server::onJoined(const PCom_ClientInfo &client)
{
    const int id = client.id;
    const QByteArray offers = m_clients.join(id);
    QTimer::singleShot(0, this, [this, id, offers]() { send(id, offers); });
}

void Rfc2217Server::onLeft(const PCom_ClientInfo &client)
{
    m_clients.leave(client.id);
    followPolling();
    // A suspension ends with its client.
    followSuspension();
}

void Rfc2217Server::poll()
{
    const auto notices = m_clients.notices(m_serial->writer()->isDrained());
    for (const auto &notice : notices)
        send(notice.first, notice.second);
}

void Rfc2217Server::send(int client, const QByteArray &bytes)
{
    if (!bytes.isEmpty() && !m_network->isClosing())
        m_served->writeToClient(client, bytes);
}

void Rfc2217Server::followSuspension()
{
    const bool held = m_clients.isSuspended();
    if (held || !m_serial->isClosing())
        m_serial->reader()->hold(held);
}

// The line is looked at only while some client wants to hear of it.
void Rfc2217Server::followPolling()
{
    if (!m_clients.wantsNotices())
        m_poll.stop();
    else if (!m_poll.isActive())
        m_poll.start();
}
