#include "cli/ServiceOptions.h"

#include "cli/CommandContext.h"
#include "core/PCom_SerialLine.h"
#include "core/PCom_ServedClients.h"
#include "hostlib/HexCodec.h"
#include "host/Plugin_Com_Port.h"
#include "hostlib/LogReceiver.h"
#include "hostlib/PluginHost.h"
#include "hostlib/PortHandle.h"
#include "hostlib/PortLink.h"
#include "hostlib/Reconnector.h"

#include <QHostAddress>

#include <algorithm>

namespace {

bool refuse(const QString &message)
{
    CommandContext::badInput(message);
    return false;
}

} // namespace

ServiceOptions::ServiceOptions(CommandContext &context)
    : m_clients(QStringLiteral("clients"),
                QStringLiteral("tcpServer: share (every client sends and receives), exclusive (a later client is "
                               "told the line is in use and closed) or replace (a new client takes over)."),
                QStringLiteral("share|exclusive|replace"), QStringLiteral("share")),
      m_allow(QStringLiteral("allow"),
              QStringLiteral("tcpServer: accept clients from this address or network only (IPv4 or IPv6; may be "
                             "repeated); others are closed at once."),
              QStringLiteral("ADDR[/PREFIX]")),
      m_waitSlow(QStringLiteral("wait-slow"),
                 QStringLiteral("tcpServer: a client that stops reading holds the whole line back instead of "
                                "being dropped.")),
      m_dropSlow(QStringLiteral("drop-slow"),
                 QStringLiteral("tcpServer: drop a client once more than 256 KiB has waited for it for SECONDS "
                                "(default 5)."),
                 QStringLiteral("SECONDS")),
      m_banner(QStringLiteral("banner"),
               QStringLiteral("tcpServer: send TEXT to each client as it joins, before any data (escapes: \\r, "
                              "\\n, \\t, \\\\, \\xNN)."),
               QStringLiteral("TEXT")),
      m_idleTimeout(QStringLiteral("idle-timeout"),
                    QStringLiteral("tcpServer: close a client that sent and received nothing for SECONDS."),
                    QStringLiteral("SECONDS")),
      m_reconnect(QStringLiteral("reconnect"),
                  QStringLiteral("com, tcpClient: when the device or peer goes away, keep reopening it, "
                                 "pausing at most SECONDS between tries (default 5)."),
                  QStringLiteral("SECONDS")),
      m_connectTimeout(QStringLiteral("connect-timeout"),
                       QStringLiteral("tcpClient: give up a connection that is not up after SECONDS (exit "
                                      "status 1); with --reconnect, each try."),
                       QStringLiteral("SECONDS"))
{
    for (const QCommandLineOption *option :
         {&m_clients, &m_allow, &m_waitSlow, &m_dropSlow, &m_banner, &m_idleTimeout, &m_connectTimeout})
        context.addOption(*option);
    context.addOptionalValue(m_reconnect, QString::number(defaultReconnectSeconds), [](const QString &word) {
        bool number = false;
        word.toDouble(&number);
        return number;
    });
}

bool ServiceOptions::check(CommandContext &context)
{
    for (const QCommandLineOption *option : {&m_clients, &m_allow, &m_waitSlow, &m_dropSlow, &m_banner, &m_idleTimeout}) {
        if (context.isSet(*option) && m_serverOption.isEmpty())
            m_serverOption = QStringLiteral("--") + option->names().constFirst();
    }
    if (!ClientPolicy::parseMode(context.value(m_clients), &m_policy.mode))
        return refuse(QStringLiteral("--clients takes share, exclusive or replace, not '%1'")
                          .arg(context.value(m_clients)));
    const QStringList allow = context.parser().values(m_allow);
    for (const QString &entry : allow) {
        if (QHostAddress::parseSubnet(entry).first.isNull())
            return refuse(QStringLiteral("--allow takes ADDR or ADDR/PREFIX (IPv4 or IPv6), not '%1'").arg(entry));
    }
    m_policy.allow = allow;
    m_policy.waitSlow = context.isSet(m_waitSlow);
    if (m_policy.waitSlow && context.isSet(m_dropSlow))
        return refuse(QStringLiteral("--wait-slow and --drop-slow exclude each other"));
    if (!HexCodec::unescape(context.value(m_banner), &m_policy.banner))
        return refuse(QStringLiteral("--banner: a backslash starts \\r, \\n, \\t, \\\\ or \\xNN: '%1'")
                          .arg(context.value(m_banner)));
    return context.seconds(m_dropSlow, 5, false, &m_policy.slowSeconds)
           && context.seconds(m_idleTimeout, 0, false, &m_policy.idleSeconds)
           && context.seconds(m_reconnect, 0, false, &m_reconnectSeconds)
           && context.seconds(m_connectTimeout, 0, false, &m_connectSeconds);
}

bool ServiceOptions::canServe(Plugin_Com_Port *port)
{
    return PluginHost::face<PCom_ServedClients>(port) != nullptr;
}

bool ServiceOptions::canReconnect(Plugin_Com_Port *port)
{
    const PCom_LinkStatus *status = PluginHost::linkStatus(port);
    return status && (status->face<PCom_SerialLine>() || status->canCloseWrite());
}

bool ServiceOptions::canConnect(Plugin_Com_Port *port)
{
    const PCom_LinkStatus *status = PluginHost::linkStatus(port);
    return status && status->canCloseWrite();
}

ServiceOptions::Side::~Side() = default;

bool ServiceOptions::setUp(PortHandle &handle, PortLink *link, std::function<bool()> reopen, Side *side) const
{
    if (canServe(handle.port())) {
        side->policy = std::make_unique<ClientPolicy>(handle.port(), link->label(), m_policy);
        QString error;
        if (!side->policy->apply(&error)) {
            CommandContext::say(QStringLiteral("error"), error);
            return false;
        }
    }
    if (m_connectSeconds > 0 && canConnect(handle.port()))
        link->setConnectTimeout(int(m_connectSeconds * 1000));
    if (m_reconnectSeconds > 0 && canReconnect(handle.port()))
        side->reconnector = std::make_unique<Reconnector>(
            link, std::move(reopen), m_reconnectSeconds,
            m_connectSeconds > 0 ? int(m_connectSeconds * 1000) : Reconnector::defaultTryMs);
    return true;
}

bool ServiceOptions::fits(const QList<Plugin_Com_Port *> &ports) const
{
    const auto any = [&ports](bool (*takes)(Plugin_Com_Port *)) {
        return std::any_of(ports.begin(), ports.end(), takes);
    };
    if (serverSet() && !any(&ServiceOptions::canServe))
        return refuse(QStringLiteral("%1 applies to tcpServer ports only").arg(m_serverOption));
    if (reconnectSet() && !any(&ServiceOptions::canReconnect))
        return refuse(QStringLiteral("--reconnect applies to com and tcpClient ports only"));
    if (m_connectSeconds > 0 && !any(&ServiceOptions::canConnect))
        return refuse(QStringLiteral("--connect-timeout applies to tcpClient ports only"));
    return true;
}

void ServiceOptions::Side::printStats() const
{
    if (!policy)
        return;
    for (const QString &line : policy->statsLines())
        LogReceiver::post(QStringLiteral("stats"), line);
}
