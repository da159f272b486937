#include "hostlib/Rfc2217Server.h"

#include "host/Plugin_Com_Port.h"
#include "hostlib/PortLink.h"
#include "hostlib/PortReader.h"
#include "hostlib/PortWriter.h"

Rfc2217Server::Rfc2217Server(PortLink *network, PortLink *serial, QObject *parent)
    : QObject(parent), m_network(network), m_serial(serial), m_session(serial->port())
{
    // The server port announces each client that comes or goes as a change.
    connect(m_network->port(), &AbstractTreeItem::dataChanged, this, &Rfc2217Server::onPortChanged);
    m_poll.setInterval(pollMs);
    connect(&m_poll, &QTimer::timeout, this,
            [this]() { send(m_session.notices(m_serial->writer()->isDrained())); });
}

QByteArray Rfc2217Server::decode(const char *data, int size)
{
    QByteArray replies;
    const QByteArray forLine = m_session.takeFromClient(data, size, &replies);
    send(replies);
    followSuspension();
    return forLine;
}

QByteArray Rfc2217Server::encode(const char *data, int size)
{
    return Rfc2217Session::toClient(data, size);
}

void Rfc2217Server::onPortChanged()
{
    int clients = 0;
    QMetaObject::invokeMethod(m_network->port(), "clientCount", Qt::DirectConnection, Q_RETURN_ARG(int, clients));
    if (clients > m_clients)
        send(m_session.start());
    m_clients = clients;
    if (clients == 0) {
        m_poll.stop();
        // Nobody is left to resume: a suspension ends with its client.
        m_session.start();
        followSuspension();
    } else if (!m_poll.isActive()) {
        m_poll.start();
    }
}

void Rfc2217Server::send(const QByteArray &bytes)
{
    if (!bytes.isEmpty() && !m_network->isClosing())
        m_network->writer()->write(bytes.constData(), bytes.size());
}

// Acts on changes only: a pause of the bridge's own (the client's backlog
// full) is the bridge's to end.
void Rfc2217Server::followSuspension()
{
    if (m_session.isSuspended() == m_suspended)
        return;
    m_suspended = m_session.isSuspended();
    PortReader *reader = m_serial->reader();
    if (m_suspended)
        reader->pause();
    else if (!m_network->writer()->isFull() && !m_serial->isClosing())
        reader->resume();
}
