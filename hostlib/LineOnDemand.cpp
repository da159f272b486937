#include "hostlib/LineOnDemand.h"

#include "core/PCom_LinkStatus.h"
#include "core/PCom_ServedClients.h"
#include "host/Plugin_Com_Port.h"
#include "hostlib/LogReceiver.h"
#include "hostlib/PluginHost.h"
#include "hostlib/PortLink.h"

#include <QTimer>

LineOnDemand::LineOnDemand(PortLink *served, PortLink *line, std::function<bool()> open, QObject *parent)
    : QObject(parent),
      m_served(served),
      m_line(line),
      m_open(std::move(open)),
      m_clients(PluginHost::face<PCom_ServedClients>(served->port()))
{
    m_line->setKeepOnLoss(true);
    m_line->suspend(0);
    connect(m_clients, &PCom_ServedClients::clientJoined, this, &LineOnDemand::onJoined);
    connect(m_clients, &PCom_ServedClients::clientLeft, this, &LineOnDemand::onLeft);
    connect(m_line, &PortLink::interrupted, this, &LineOnDemand::onLost);
}

QString LineOnDemand::name(const PCom_ClientInfo &client) const
{
    return QStringLiteral("%1 client %2 (%3)").arg(m_served->label(), QString::number(client.id), client.peer);
}

void LineOnDemand::onJoined(const PCom_ClientInfo &client)
{
    if (m_line->isClosing() || (m_line->isInterrupted() && !openFor(client)))
        return;
    // A suspension still flushing is called off: the line stays open.
    m_line->resumeAfterReopen();
    m_using.insert(client.id);
}

bool LineOnDemand::openFor(const PCom_ClientInfo &client)
{
    // A port that closed itself on a loss may still read as open.
    if (m_line->port()->opened())
        m_line->port()->close();
    if (m_open()) {
        LogReceiver::post(QStringLiteral("info"),
                          QStringLiteral("pcom: opened the %1 line for %2").arg(m_line->label(), name(client)));
        return true;
    }
    const QString reason = m_line->status() ? m_line->status()->lastErrorString() : QString();
    if (m_line->port()->opened())
        m_line->port()->close();
    const QString why = QStringLiteral("the %1 line did not open%2")
                            .arg(m_line->label(), reason.isEmpty() ? QString() : QStringLiteral(": ") + reason);
    LogReceiver::post(QStringLiteral("warning"), QStringLiteral("pcom: %1 closed: %2").arg(name(client), why));
    m_clients->writeToClient(client.id, QStringLiteral("pcom: %1\r\n").arg(why).toUtf8());
    m_clients->closeClient(client.id, true);
    return false;
}

void LineOnDemand::onLeft(const PCom_ClientInfo &client)
{
    if (!m_using.remove(client.id) || !m_using.isEmpty() || m_line->isClosing())
        return;
    LogReceiver::post(QStringLiteral("info"),
                      QStringLiteral("pcom: closing the %1 line: its last client left").arg(m_line->label()));
    m_line->suspend(flushMs);
}

void LineOnDemand::onLost(const QString &reason)
{
    const QByteArray text = QStringLiteral("pcom: the %1 line was lost: %2\r\n").arg(m_line->label(), reason).toUtf8();
    const QSet<int> clients = m_using;
    m_using.clear();
    for (int id : clients) {
        m_clients->writeToClient(id, text);
        m_clients->closeClient(id, true);
    }
    // The port is still inside its own error handling.
    QTimer::singleShot(0, this, [this]() {
        if (m_line->isInterrupted() && !m_line->isClosing() && m_line->port()->opened())
            m_line->port()->close();
    });
}
