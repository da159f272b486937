#include "cli/EndpointKinds.h"

#include "cli/CommandContext.h"
#include "hostlib/FrameLine.h"
#include "hostlib/FrameServer.h"
#include "hostlib/PortHandle.h"
#include "hostlib/PortLink.h"
#include "hostlib/SlcanSession.h"
#include "hostlib/SocketcandSession.h"

#include <QHostAddress>

namespace {

const QString socketcand = QStringLiteral("socketcand");
const QString slcan = QStringLiteral("slcan");

// The listening socket of a served kind, from address=, port= and drop-slow=.
bool serve(const QString &kind, QMap<QString, QString> settings, FrameServer::SessionMaker maker,
           EndpointKinds::Side *side)
{
    const QString address = settings.take(QStringLiteral("address"));
    QHostAddress host(address);
    if (address.isEmpty() || address == QLatin1String("localhost"))
        host = QHostAddress::LocalHost;
    else if (address == QLatin1String("any"))
        host = QHostAddress::Any;
    bool ok = false;
    const uint port = settings.take(QStringLiteral("port")).toUInt(&ok);
    const QString slowText = settings.take(QStringLiteral("drop-slow"));
    bool slowOk = true;
    const double slow = slowText.isEmpty() ? 5 : slowText.toDouble(&slowOk);
    QString error;
    if (host.isNull())
        error = QStringLiteral("address takes an IP address, localhost or any, not '%1'").arg(address);
    else if (!ok || port > 65535)
        error = QStringLiteral("%1 needs port=N (0 to 65535)").arg(kind);
    else if (!slowOk || slow <= 0 || slow > 1e6)
        error = QStringLiteral("drop-slow takes seconds, not '%1'").arg(slowText);
    else if (!settings.isEmpty())
        error = QStringLiteral("%1 takes no setting '%2'").arg(kind, settings.firstKey());
    if (!error.isEmpty()) {
        CommandContext::badInput(error);
        return false;
    }
    auto server = std::make_unique<FrameServer>(kind, std::move(maker));
    server->setSlowSeconds(slow);
    FrameServer *end = server.get();
    side->end = std::move(server);
    side->open = [end, host, port]() {
        QString reason;
        if (end->listen(host, quint16(port), &reason)) {
            CommandContext::say(QStringLiteral("progress"), QStringLiteral("pcom: %1 listening on %2 port %3")
                                                                .arg(end->label(), host.toString())
                                                                .arg(end->serverPort()));
            return true;
        }
        CommandContext::say(QStringLiteral("error"), reason);
        return false;
    };
    return true;
}

// SLCAN on a serial line: the plug-in's com port with the remaining settings.
bool serialLine(PluginHost &host, const QStringList &settings, EndpointKinds::Side *side)
{
    QString error;
    side->handle = PortHandle::create(host, QStringLiteral("com"), &error);
    if (!side->handle) {
        CommandContext::badInput(error);
        return false;
    }
    if (!CommandContext::configure(*side->handle, settings))
        return false;
    auto *line = new PortLink(side->handle->port(), QStringLiteral("slcan com"));
    side->end = std::make_unique<FrameLine>(slcan, line, std::make_unique<SlcanSession>());
    PortHandle *handle = side->handle.get();
    side->open = [handle]() { return CommandContext::open(*handle, QStringLiteral("slcan com")); };
    return true;
}

} // namespace

EndpointKinds::Side::~Side() = default;

QList<EndpointKinds::Kind> EndpointKinds::kinds()
{
    return {{socketcand, QStringLiteral("a CAN port served to socketcand clients (python-can's socketcand "
                                        "interface): address=ADDR port=N [channel=NAME] [drop-slow=SECONDS]")},
            {slcan, QStringLiteral("a CAN port as an SLCAN adapter on a serial line (device=PATH and the com "
                                   "port's settings) or served over TCP (address=ADDR port=N)")}};
}

bool EndpointKinds::isKind(const QString &word)
{
    return word == socketcand || word == slcan;
}

bool EndpointKinds::create(PluginHost &host, const QStringList &words, Side *side)
{
    const QString kind = words.first();
    QMap<QString, QString> settings;
    for (const QString &word : words.mid(1)) {
        const int equals = word.indexOf(QLatin1Char('='));
        if (equals <= 0) {
            CommandContext::badInput(QStringLiteral("expected NAME=VALUE, not '%1'").arg(word));
            return false;
        }
        settings.insert(word.left(equals), word.mid(equals + 1));
    }
    if (kind == slcan && settings.contains(QStringLiteral("device")))
        return serialLine(host, words.mid(1), side);
    if (kind == slcan)
        return serve(kind, settings, []() { return std::make_unique<SlcanSession>(); }, side);
    const QString channel = settings.take(QStringLiteral("channel"));
    const QString name = channel.isEmpty() ? QStringLiteral("can0") : channel;
    return serve(kind, settings, [name]() { return std::make_unique<SocketcandSession>(name); }, side);
}
