#include "hostlib/ClientPolicy.h"

#include "host/Plugin_Com_Port.h"
#include "hostlib/LogReceiver.h"
#include "hostlib/PluginHost.h"

const QByteArray ClientPolicy::inUseLine = QByteArrayLiteral("pcom: the line is in use by another client\r\n");

ClientPolicy::ClientPolicy(Plugin_Com_Port *port, const QString &label, const Options &options, QObject *parent)
    : QObject(parent), m_clientsFace(PluginHost::face<PCom_ServedClients>(port)), m_label(label), m_options(options)
{
    m_clock.start();
    m_watch.setInterval(watchMs);
    connect(&m_watch, &QTimer::timeout, this, &ClientPolicy::watch);
}

bool ClientPolicy::parseMode(const QString &text, Mode *mode)
{
    for (Mode m : {Mode::Share, Mode::Exclusive, Mode::Replace}) {
        if (text == modeName(m)) {
            *mode = m;
            return true;
        }
    }
    return false;
}

QString ClientPolicy::modeName(Mode mode)
{
    switch (mode) {
    case Mode::Exclusive:
        return QStringLiteral("exclusive");
    case Mode::Replace:
        return QStringLiteral("replace");
    case Mode::Share:
        break;
    }
    return QStringLiteral("share");
}

bool ClientPolicy::apply(QString *error)
{
    if (!m_clientsFace) {
        *error = QStringLiteral("the %1 port has no per-client control").arg(m_label);
        return false;
    }
    if (!m_clientsFace->setAllowList(m_options.allow)) {
        *error = QStringLiteral("--allow takes ADDR or ADDR/PREFIX (IPv4 or IPv6), not '%1'")
                     .arg(m_options.allow.join(QStringLiteral("', '")));
        return false;
    }
    m_clientsFace->setKeepAccepting(true);
    connect(m_clientsFace, &PCom_ServedClients::clientJoined, this, &ClientPolicy::onJoined);
    connect(m_clientsFace, &PCom_ServedClients::clientLeft, this, &ClientPolicy::onLeft);
    connect(m_clientsFace, &PCom_ServedClients::clientRefused, this, &ClientPolicy::onRefused);
    m_watch.start();
    return true;
}

QString ClientPolicy::name(const PCom_ClientInfo &info) const
{
    return QStringLiteral("%1 client %2 (%3)").arg(m_label, QString::number(info.id), info.peer);
}

void ClientPolicy::close(int id, bool flush, const QString &ending)
{
    for (Client &client : m_clients) {
        if (client.info.id == id && client.ending.isEmpty())
            client.ending = ending;
    }
    m_clientsFace->closeClient(id, flush);
}

// Runs inside the port's acceptance of the client, before anything was
// written to it or read from it.
void ClientPolicy::onJoined(const PCom_ClientInfo &info)
{
    ++m_accepted;
    m_clients.append({info, QString()});
    LogReceiver::post(QStringLiteral("progress"), QStringLiteral("pcom: %1 joined").arg(name(info)));
    const int id = info.id;
    m_lastActive.insert(id, {0, m_clock.elapsed()});
    if (!m_options.banner.isEmpty())
        m_clientsFace->writeToClient(id, m_options.banner);
    int other = 0;
    for (const Client &client : qAsConst(m_clients)) {
        if (client.ending.isEmpty() && client.info.id != id)
            other = client.info.id;
    }
    if (other == 0 || m_options.mode == Mode::Share)
        return;
    if (m_options.mode == Mode::Exclusive) {
        ++m_turnedAway;
        LogReceiver::post(QStringLiteral("info"),
                          QStringLiteral("pcom: %1 turned away: the line is in use by client %2")
                              .arg(name(info))
                              .arg(other));
        m_clientsFace->writeToClient(id, inUseLine);
        close(id, true, QStringLiteral("turned away, line in use"));
        return;
    }
    // Replace: every earlier client goes, once what it was sent has left.
    const QList<Client> earlier = m_clients;
    for (const Client &client : earlier) {
        const int old = client.info.id;
        if (!client.ending.isEmpty() || old == id)
            continue;
        ++m_replaced;
        LogReceiver::post(QStringLiteral("info"),
                          QStringLiteral("pcom: %1 replaced by client %2").arg(name(client.info)).arg(id));
        close(old, true, QStringLiteral("replaced"));
    }
}

void ClientPolicy::onLeft(const PCom_ClientInfo &info)
{
    const int id = info.id;
    m_slowSince.remove(id);
    m_lastActive.remove(id);
    if (info.loss == PCom_LinkStatus::LossKind::PeerClosed)
        LogReceiver::noteOrderlyEnd();
    for (int i = 0; i < m_clients.size(); ++i) {
        Client &client = m_clients[i];
        if (client.info.id != id)
            continue;
        client.info = info;
        if (client.ending.isEmpty())
            client.ending = QStringLiteral("left");
        // The record keeps the recent departed only: memory stays bounded
        // however many clients come and go.
        m_clients.append(m_clients.takeAt(i));
        break;
    }
    int departed = 0;
    for (int i = m_clients.size() - 1; i >= 0; --i) {
        if (!m_clients.at(i).ending.isEmpty() && ++departed > departedShown)
            m_clients.removeAt(i);
    }
}

void ClientPolicy::onRefused(const QString &peer, PCom_ServedClients::Refusal why, const QString &reason)
{
    ++(why == PCom_ServedClients::Refusal::Tls ? m_refusedTls : m_refused);
    LogReceiver::post(QStringLiteral("warning"),
                      QStringLiteral("pcom: refused a %1 client from %2: %3").arg(m_label, peer, reason));
}

// A client that the host is closing is watched as well: it no longer
// holds the line back, but what waits for it is memory.
void ClientPolicy::watch()
{
    const qint64 now = m_clock.elapsed();
    const QVector<PCom_ClientInfo> list = m_clientsFace->clients();
    for (const PCom_ClientInfo &info : list) {
        const int id = info.id;
        const qint64 backlog = info.backlog;
        bool closing = false;
        for (const Client &client : qAsConst(m_clients)) {
            if (client.info.id == id)
                closing = !client.ending.isEmpty();
        }
        if (!closing && m_options.idleSeconds > 0 && closeIdle(info, now))
            continue;
        if (backlog < slowBacklog || (m_options.waitSlow && !closing)) {
            m_slowSince.remove(id);
            continue;
        }
        const qint64 since = m_slowSince.value(id, -1);
        if (since < 0) {
            m_slowSince.insert(id, now);
            continue;
        }
        if (now - since < qint64(m_options.slowSeconds * 1000))
            continue;
        ++m_droppedSlow;
        LogReceiver::post(QStringLiteral("error"),
                          QStringLiteral("pcom: dropped %1: it stopped reading (%2 bytes waiting for %3 s)")
                              .arg(name(info))
                              .arg(backlog)
                              .arg(m_options.slowSeconds));
        close(id, false, QStringLiteral("dropped, stopped reading"));
    }
}

bool ClientPolicy::closeIdle(const PCom_ClientInfo &info, qint64 now)
{
    const qint64 moved = info.bytesRead + info.bytesWritten;
    const auto last = m_lastActive.value(info.id, {-1, now});
    if (last.first != moved) {
        m_lastActive.insert(info.id, {moved, now});
        return false;
    }
    if (now - last.second < qint64(m_options.idleSeconds * 1000))
        return false;
    ++m_idleClosed;
    LogReceiver::post(QStringLiteral("info"), QStringLiteral("pcom: closed %1: idle for %2 s")
                                                  .arg(name(info))
                                                  .arg(m_options.idleSeconds));
    close(info.id, true, QStringLiteral("closed, idle"));
    return true;
}

QStringList ClientPolicy::statsLines()
{
    // Fresh counts of the clients still there.
    const QVector<PCom_ClientInfo> list = m_clientsFace->clients();
    for (const PCom_ClientInfo &info : list) {
        for (Client &client : m_clients) {
            if (client.info.id == info.id)
                client.info = info;
        }
    }
    QString effect = QStringLiteral("%1 clients (%2): %3 accepted")
                         .arg(m_label, modeName(m_options.mode))
                         .arg(m_accepted);
    const QList<QPair<int, const char *>> counts = {{m_turnedAway, "turned away (line in use)"},
                                                    {m_replaced, "replaced"},
                                                    {m_refused, "refused (allow-list)"},
                                                    {m_refusedTls, "refused (TLS)"},
                                                    {m_droppedSlow, "dropped (stopped reading)"},
                                                    {m_idleClosed, "closed (idle)"}};
    for (const auto &count : counts) {
        if (count.first > 0)
            effect += QStringLiteral(", %1 %2").arg(count.first).arg(QLatin1String(count.second));
    }
    QStringList lines{effect};
    for (const Client &client : qAsConst(m_clients)) {
        const PCom_ClientInfo &info = client.info;
        lines << QStringLiteral("%1: %2 bytes to it, %3 from it%4")
                     .arg(name(info))
                     .arg(info.bytesWritten)
                     .arg(info.bytesRead)
                     .arg(client.ending.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(client.ending));
    }
    return lines;
}
