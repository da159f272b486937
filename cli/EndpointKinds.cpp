#include "cli/EndpointKinds.h"

#include "cli/CommandContext.h"
#include "cli/TlsOptions.h"
#include "hostlib/FrameLine.h"
#include "hostlib/FrameServer.h"
#include "hostlib/MqttEndpoint.h"
#include "hostlib/PortHandle.h"
#include "hostlib/PortLink.h"
#include "hostlib/SlcanSession.h"
#include "hostlib/SocketcandSession.h"

#include <QFile>
#include <QFileInfo>
#include <QHostAddress>

namespace {

const QString socketcand = QStringLiteral("socketcand");
const QString slcan = QStringLiteral("slcan");
const QString mqtt = QStringLiteral("mqtt");

bool refuse(const QString &message)
{
    CommandContext::badInput(message);
    return false;
}

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

// The broker's end for the port behind `link`, whose state its status reports.
bool broker(MqttSettings settings, const QStringList &words, PortLink *link, EndpointKinds::Side *side)
{
    QString error;
    if (!settings.parse(words, &error))
        return refuse(error);
    auto owned = std::make_unique<MqttEndpoint>(settings, link->usesFrames(), link->label());
    MqttEndpoint *end = owned.get();
    QObject::connect(link, &PortLink::interrupted, end, [end]() { end->setLinkState(QStringLiteral("away")); });
    QObject::connect(link, &PortLink::resumed, end, [end]() { end->setLinkState(QStringLiteral("up")); });
    QObject::connect(link, &PortLink::lost, end, [end]() { end->setLinkState(QStringLiteral("down")); });
    side->end = std::move(owned);
    side->open = [end]() { return end->open(); };
    return true;
}

} // namespace

EndpointKinds::EndpointKinds(CommandContext &context)
    : m_passwordFile(QStringLiteral("mqtt-password-file"),
                     QStringLiteral("The mqtt side logs in with the first line of FILE: USERNAME:PASSWORD "
                                    "(USERNAME alone: no password)."),
                     QStringLiteral("FILE"))
{
    context.addOption(m_passwordFile);
}

EndpointKinds::Side::~Side() = default;

QList<EndpointKinds::Kind> EndpointKinds::kinds()
{
    return {{socketcand, QStringLiteral("a CAN port served to socketcand clients (python-can's socketcand "
                                        "interface): address=ADDR port=N [channel=NAME] [drop-slow=SECONDS]"),
             {}},
            {slcan, QStringLiteral("a CAN port as an SLCAN adapter on a serial line (device=PATH and the com "
                                   "port's settings) or served over TCP (address=ADDR port=N)"),
             {}},
            {mqtt,
             QStringLiteral("MQTT broker: publishes what the other side reads to PREFIX/rx, writes to it what "
                            "arrives on PREFIX/tx"),
             QStringLiteral("broker=HOST[:PORT] topic=PREFIX qos=0|1 client-id=ID session=clean|persistent "
                            "keepalive=SECONDS status=SECONDS cut=SIZE|line quiet=MS format=text|binary "
                            "topics=single|per-id")}};
}

bool EndpointKinds::isKind(const QString &word)
{
    return word == socketcand || word == slcan || word == mqtt;
}

bool EndpointKinds::needsFrames(const QString &kind)
{
    return kind == socketcand || kind == slcan;
}

bool EndpointKinds::check(const CommandContext &context, const TlsOptions &tls, const QString &kind)
{
    if (kind != mqtt)
        return true;
    tls.brokerFiles(context, &m_mqtt);
    for (const QString &file : {m_mqtt.caFile, m_mqtt.certFile, m_mqtt.keyFile}) {
        if (!file.isEmpty() && !QFileInfo(file).isReadable())
            return refuse(QStringLiteral("cannot read the TLS file '%1'").arg(file));
    }
    if ((!m_mqtt.certFile.isEmpty() || !m_mqtt.keyFile.isEmpty())
        && (m_mqtt.certFile.isEmpty() || m_mqtt.keyFile.isEmpty() || m_mqtt.caFile.isEmpty()))
        return refuse(QStringLiteral("--tls-cert and --tls-key go together, with --tls-ca"));
    if (!context.isSet(m_passwordFile))
        return true;
    QFile file(context.value(m_passwordFile));
    if (!file.open(QIODevice::ReadOnly))
        return refuse(
            QStringLiteral("cannot read the password file '%1': %2").arg(file.fileName(), file.errorString()));
    const QString line = QString::fromUtf8(file.readLine()).remove(QLatin1Char('\n')).remove(QLatin1Char('\r'));
    const int colon = line.indexOf(QLatin1Char(':'));
    m_mqtt.username = colon < 0 ? line : line.left(colon);
    m_mqtt.password = colon < 0 ? QString() : line.mid(colon + 1);
    return !m_mqtt.username.isEmpty()
           || refuse(QStringLiteral("the password file '%1' names no user on its first line").arg(file.fileName()));
}

bool EndpointKinds::create(PluginHost &host, const QStringList &words, PortLink *link, Side *side) const
{
    const QString kind = words.first();
    if (kind == mqtt)
        return broker(m_mqtt, words.mid(1), link, side);
    if (!link->usesFrames())
        return refuse(QStringLiteral("the %1 side goes opposite a CAN port").arg(kind));
    QMap<QString, QString> settings;
    for (const QString &word : words.mid(1)) {
        const int equals = word.indexOf(QLatin1Char('='));
        if (equals <= 0)
            return refuse(QStringLiteral("expected NAME=VALUE, not '%1'").arg(word));
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
