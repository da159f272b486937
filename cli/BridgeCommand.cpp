#include "cli/BridgeCommand.h"

#include "cli/CommandContext.h"
#include "cli/ExitCode.h"
#include "cli/SerialOptions.h"
#include "cli/Shutdown.h"
#include "cli/TlsOptions.h"
#include "host/Plugin_Com_Port.h"
#include "hostlib/Bridge.h"
#include "hostlib/LineOnDemand.h"
#include "hostlib/PortHandle.h"
#include "hostlib/PortLink.h"
#include "hostlib/Rfc2217Server.h"

#include <QCoreApplication>
#include <QEvent>
#include <QTimer>

namespace {

// Marks where the second port's words begin. A process argument cannot
// hold a NUL character, so no word of the user's can be mistaken for it;
// and unlike "--" it leaves options after it to the parser.
const QString secondPortMark = QString(QChar(0));

// What --hold may keep at most: memory stays bounded.
const qint64 maxHoldBytes = 64 * 1024 * 1024;

} // namespace

BridgeCommand::BridgeCommand()
    : m_context(QStringLiteral(
        "Opens two ports and relays in both directions until either link closes, SIGINT or SIGTERM;\n"
        "then closes the other one once what it was given has left, and prints the byte counts delivered\n"
        "in each direction. A side is read only while the other side's backlog is under 1 MiB. What\n"
        "arrives for a TCP server side without a client is dropped and counted (see --hold). Between a\n"
        "CAN port and a byte stream, frames travel as cansend lines (ID#HEXDATA).\n"
        "A TYPE is a device type key or one of pcom's own ends, which go opposite a CAN port:\n"
        "  socketcand address=ADDR port=N [channel=NAME] [drop-slow=SECONDS]: the bus served to socketcand\n"
        "    clients (< open NAME >, rawmode, bcmmode, controlmode statistics, echo; channel can0 by default)\n"
        "  slcan device=PATH [com settings]: the bus as an SLCAN adapter on a serial line (the com port)\n"
        "  slcan address=ADDR port=N [drop-slow=SECONDS]: the same served over TCP\n"
        "  (address 127.0.0.1 unless given, any for every address; a client that stops reading is dropped\n"
        "  after drop-slow seconds, 5 by default)\n"
        "A side of TYPE mqtt is an MQTT broker: mqtt broker=HOST[:PORT] topic=PREFIX [qos=0|1]\n"
        "[client-id=ID] [session=clean|persistent] [keepalive=SECONDS] [status=SECONDS] [cut=SIZE|line]\n"
        "[quiet=MS] [format=text|binary] [topics=single|per-id] (see pcom devices and the README).\n"
        "The serial options apply to the com side (or both).\n"
        "Example: pcom bridge com device=/dev/ttyUSB0 baudrate=115200 --parity even -- tcpServer port=5000\n"
        "Example: pcom bridge canBus --can-plugin socketcan device=can0 -- socketcand port=29536 channel=can0\n"
        "Exit status: 0 closed in an orderly way with every byte delivered, 1 a link failed, did not open,\n"
        "a serial setting or a datagram was refused, bytes were left over or lines or frames were skipped,\n"
        "2 bad input.")),
      m_stats(QStringLiteral("stats"), QStringLiteral("Print the byte counts of both directions every SECONDS."),
              QStringLiteral("SECONDS")),
      m_hold(QStringLiteral("hold"),
             QStringLiteral("Hold up to BYTES for a side that has nobody to take them (a TCP "
                            "server without a client) instead of dropping them."),
             QStringLiteral("BYTES")),
      m_rfc2217(QStringLiteral("rfc2217"),
                QStringLiteral("Serve the com side to the clients of the tcpServer side as a "
                               "Telnet COM port (RFC 2217): they set the line and see its state.")),
      m_onDemandOption(QStringLiteral("on-demand"),
                 QStringLiteral("Open the com side when the first client of the tcpServer side joins and "
                                "close it when the last one leaves (the server listens throughout).")),
      m_timeout(QStringLiteral("timeout"), QStringLiteral("Total time: close both sides after SECONDS, whatever happens."),
                QStringLiteral("SECONDS")),
      m_canPlugin(QStringLiteral("can-plugin"),
                  QStringLiteral("canBus: Qt back-end of the canBus side (short for interface=NAME)."),
                  QStringLiteral("NAME"))
{
    QCommandLineParser &parser = m_context.parser();
    parser.addPositionalArgument(QStringLiteral("bridge"), QStringLiteral("The command."), QStringLiteral("bridge"));
    parser.addPositionalArgument(QStringLiteral("TYPE"),
                                 QStringLiteral("First side's type: a device type key, or mqtt (an endpoint of "
                                                "pcom's own)."));
    parser.addPositionalArgument(QStringLiteral("NAME=VALUE"), QStringLiteral("First port's settings."),
                                 QStringLiteral("[NAME=VALUE...] -- TYPE [NAME=VALUE...]"));
    m_context.addOption(m_stats);
    m_context.addOption(m_hold);
    m_context.addOption(m_rfc2217);
    m_context.addOption(m_onDemandOption);
    m_context.addOption(m_canPlugin);
    m_context.addOption(m_timeout);
    m_serial = std::make_unique<SerialOptions>(m_context);
    m_tls = std::make_unique<TlsOptions>(m_context);
    m_kinds = std::make_unique<EndpointKinds>(m_context);
}

BridgeCommand::~BridgeCommand() = default;

bool BridgeCommand::parse(const QStringList &arguments)
{
    QStringList marked = arguments;
    const int split = marked.indexOf(QStringLiteral("--"));
    if (split >= 0)
        marked[split] = secondPortMark;
    if (!m_context.parse(marked))
        return false;
    const QStringList words = m_context.words();
    const int mark = words.indexOf(secondPortMark);
    m_firstWords = words.mid(0, mark);
    m_secondWords = mark < 0 ? QStringList() : words.mid(mark + 1);
    if (m_firstWords.isEmpty() || m_secondWords.isEmpty()) {
        CommandContext::badInput(
            QStringLiteral("bridge needs two ports: TYPE [NAME=VALUE...] -- TYPE [NAME=VALUE...]"));
        return false;
    }
    if (!m_context.seconds(m_stats, 0, false, &m_statsSeconds)
        || !m_context.seconds(m_timeout, 0, false, &m_timeoutSeconds))
        return false;
    if (m_context.isSet(m_hold)) {
        bool ok = false;
        m_holdBytes = m_context.value(m_hold).toLongLong(&ok);
        if (!ok || m_holdBytes < 0 || m_holdBytes > maxHoldBytes) {
            CommandContext::badInput(QStringLiteral("--hold takes a byte count from 0 to %1, not '%2'")
                                         .arg(maxHoldBytes)
                                         .arg(m_context.value(m_hold)));
            return false;
        }
    }
    // The broker's TLS reads the same --tls-* options, with its own rules.
    const QString own = EndpointKinds::isKind(m_firstWords.first()) ? m_firstWords.first() : m_secondWords.first();
    return m_serial->check(m_context) && m_service.check(m_context) && m_tls->check(m_context)
           && m_kinds->check(m_context, *m_tls, own);
}

bool BridgeCommand::prepare(PluginHost &host)
{
    if (EndpointKinds::isKind(m_firstWords.first()) || EndpointKinds::isKind(m_secondWords.first()))
        return prepareOwnEnd(host);
    for (auto side : {std::make_pair(&m_firstHandle, &m_firstWords), std::make_pair(&m_secondHandle, &m_secondWords)}) {
        QString error;
        *side.first = PortHandle::create(host, side.second->first(), &error);
        if (!*side.first) {
            CommandContext::badInput(error);
            return false;
        }
    }

    Plugin_Com_Port *first = m_firstHandle->port();
    Plugin_Com_Port *second = m_secondHandle->port();
    if (m_serial->isSet() && !SerialOptions::fits(first) && !SerialOptions::fits(second)) {
        CommandContext::badInput(QStringLiteral("%1 applies to com ports only").arg(m_serial->firstName()));
        return false;
    }
    // A serial line on one side, served clients on the other.
    const bool lineFirst = SerialOptions::fits(first) && ServiceOptions::canServe(second);
    if (m_context.isSet(m_rfc2217) && !lineFirst && !(SerialOptions::fits(second) && ServiceOptions::canServe(first))) {
        CommandContext::badInput(
            QStringLiteral("--rfc2217 needs a com port on one side and a tcpServer port on the other"));
        return false;
    }
    const bool onDemand = m_context.isSet(m_onDemandOption);
    if (onDemand && !lineFirst && !(SerialOptions::fits(second) && ServiceOptions::canServe(first))) {
        CommandContext::badInput(
            QStringLiteral("--on-demand needs a com port on one side and a tcpServer port on the other"));
        return false;
    }
    if (onDemand && m_service.reconnectSet()) {
        CommandContext::badInput(QStringLiteral("--on-demand opens the com side for each new client: "
                                                "leave out --reconnect"));
        return false;
    }
    if (m_context.isSet(m_canPlugin) && !first->usesFrameIds() && !second->usesFrameIds()) {
        CommandContext::badInput(QStringLiteral("--can-plugin applies to canBus ports only"));
        return false;
    }
    if (!m_service.fits({first, second}) || !m_tls->fits({first, second})
        || !CommandContext::configure(*m_firstHandle, portSettings(first, m_firstWords))
        || !CommandContext::configure(*m_secondHandle, portSettings(second, m_secondWords)) || !m_tls->apply(first)
        || !m_tls->apply(second))
        return false;
    m_firstLabel = m_firstHandle->typeKey();
    m_secondLabel = m_secondHandle->typeKey();
    if (m_firstLabel == m_secondLabel) {
        m_firstLabel += QStringLiteral("#1");
        m_secondLabel += QStringLiteral("#2");
    }
    m_firstLink = std::make_unique<PortLink>(m_firstHandle->port(), m_firstLabel);
    m_secondLink = std::make_unique<PortLink>(m_secondHandle->port(), m_secondLabel);
    m_bridge = std::make_unique<Bridge>(m_firstLink.get(), m_secondLink.get(), m_statsSeconds, m_holdBytes);
    if (m_context.isSet(m_rfc2217)) {
        PortLink *network = lineFirst ? m_secondLink.get() : m_firstLink.get();
        m_rfc2217Server = std::make_unique<Rfc2217Server>(network, lineFirst ? m_firstLink.get() : m_secondLink.get());
        m_bridge->setFilter(network, m_rfc2217Server.get());
    }
    m_bridge->setStatsHook([this]() {
        m_firstSide.printStats();
        m_secondSide.printStats();
    });
    // What a side that comes back after a loss runs: the open, then the
    // serial settings on a com side.
    const auto reopen = [this](PortHandle &handle, const QString &label) {
        return [this, &handle, label]() {
            return handle.open() && m_serial->apply(handle.port(), label);
        };
    };
    if (!m_service.setUp(*m_firstHandle, m_firstLink.get(), reopen(*m_firstHandle, m_firstLabel), &m_firstSide)
        || !m_service.setUp(*m_secondHandle, m_secondLink.get(), reopen(*m_secondHandle, m_secondLabel),
                            &m_secondSide))
        return false;
    if (onDemand) {
        m_demandHandle = lineFirst ? m_firstHandle.get() : m_secondHandle.get();
        PortLink *line = lineFirst ? m_firstLink.get() : m_secondLink.get();
        m_onDemand = std::make_unique<LineOnDemand>(lineFirst ? m_secondLink.get() : m_firstLink.get(), line,
                                                    reopen(*m_demandHandle, line->label()));
    }
    return true;
}

bool BridgeCommand::prepareOwnEnd(PluginHost &host)
{
    const bool ownFirst = EndpointKinds::isKind(m_firstWords.first());
    const QStringList &ownWords = ownFirst ? m_firstWords : m_secondWords;
    const QStringList &portWords = ownFirst ? m_secondWords : m_firstWords;
    const bool frames = EndpointKinds::needsFrames(ownWords.first());
    if (EndpointKinds::isKind(portWords.first()) || m_context.isSet(m_rfc2217) || (frames && m_serial->isSet())) {
        CommandContext::badInput(
            frames ? QStringLiteral("the %1 side goes opposite a CAN port, without --rfc2217 or serial options")
                         .arg(ownWords.first())
                   : QStringLiteral("an mqtt side needs a port of the plug-in on the other side, without --rfc2217"));
        return false;
    }
    std::unique_ptr<PortHandle> &handle = ownFirst ? m_secondHandle : m_firstHandle;
    std::unique_ptr<PortLink> &link = ownFirst ? m_secondLink : m_firstLink;
    QString error;
    if (!(handle = PortHandle::create(host, portWords.first(), &error))) {
        CommandContext::badInput(error);
        return false;
    }
    if (m_serial->isSet() && !SerialOptions::fits(handle->port())) {
        CommandContext::badInput(QStringLiteral("%1 applies to com ports only").arg(m_serial->firstName()));
        return false;
    }
    if (m_context.isSet(m_canPlugin) && !handle->port()->usesFrameIds()) {
        CommandContext::badInput(QStringLiteral("--can-plugin applies to canBus ports only"));
        return false;
    }
    if (!m_service.fits({handle->port()}) || !CommandContext::configure(*handle, portSettings(handle->port(), portWords)))
        return false;
    const QString label = handle->typeKey();
    link = std::make_unique<PortLink>(handle->port(), label);
    m_own = std::make_unique<EndpointKinds::Side>();
    if (!m_kinds->create(host, ownWords, link.get(), m_own.get()))
        return false;
    (ownFirst ? m_secondLabel : m_firstLabel) = label;
    (ownFirst ? m_firstLabel : m_secondLabel) = ownWords.first();
    Endpoint *own = m_own->end.get();
    m_bridge = std::make_unique<Bridge>(ownFirst ? own : link.get(), ownFirst ? link.get() : own, m_statsSeconds,
                                        m_holdBytes);
    ServiceOptions::Side &side = ownFirst ? m_secondSide : m_firstSide;
    m_bridge->setStatsHook([&side]() { side.printStats(); });
    PortHandle &port = *handle;
    return m_service.setUp(port, link.get(), [this, &port, label]() {
        return port.open() && m_serial->apply(port.port(), label);
    }, &side);
}

// A side's settings after its TYPE; a CAN port's back-end first, when
// --can-plugin names one.
QStringList BridgeCommand::portSettings(Plugin_Com_Port *port, const QStringList &words) const
{
    QStringList out = words.mid(1);
    if (m_context.isSet(m_canPlugin) && port->usesFrameIds())
        out.prepend(QStringLiteral("interface=") + m_context.value(m_canPlugin));
    return out;
}

bool BridgeCommand::open()
{
    // A com side gets the serial settings as soon as it is open; an end of
    // pcom's own begins to listen or to connect.
    const auto openSide = [this](PortHandle *handle, const QString &label) {
        if (!handle)
            return m_own->open();
        if (handle == m_demandHandle)
            return true;
        if (!CommandContext::open(*handle, label))
            return false;
        if (m_serial->apply(handle->port(), label))
            return true;
        handle->port()->close();
        return false;
    };
    if (!openSide(m_firstHandle.get(), m_firstLabel))
        return false;
    if (!openSide(m_secondHandle.get(), m_secondLabel)) {
        if (m_firstHandle)
            m_firstHandle->port()->close();
        return false;
    }
    if (m_demandHandle)
        CommandContext::say(QStringLiteral("progress"),
                            QStringLiteral("pcom: opened the %1 port; the %2 port opens when a client joins")
                                .arg(m_demandHandle == m_firstHandle.get() ? m_secondLabel : m_firstLabel,
                                     m_demandHandle->typeKey()));
    else
        CommandContext::say(QStringLiteral("progress"),
                            QStringLiteral("pcom: opened the %1 and %2 ports").arg(m_firstLabel, m_secondLabel));
    return true;
}

int BridgeCommand::run(const QStringList &arguments)
{
    int code = ExitCode::Ok;
    {
        BridgeCommand command;
        if (!command.parse(arguments) || !command.m_context.start() || !command.prepare(command.m_context.host()))
            return ExitCode::BadInput;
        Bridge *bridge = command.bridge();
        Shutdown shutdown;
        QObject::connect(&shutdown, &Shutdown::stopRequested, bridge,
                         [bridge]() { bridge->stop(Shutdown::signalFlushMs); });
        QObject::connect(&shutdown, &Shutdown::abortRequested, bridge, &Bridge::abort);
        QTimer total;
        total.setSingleShot(true);
        QObject::connect(&total, &QTimer::timeout, bridge, [bridge, &command]() {
            CommandContext::say(QStringLiteral("info"), QStringLiteral("pcom: the total time of %1 s has passed")
                                                            .arg(command.m_timeoutSeconds));
            bridge->stop(Shutdown::timeoutFlushMs);
        });
        if (!command.open()) {
            code = ExitCode::LinkFailure;
        } else {
            if (command.m_timeoutSeconds > 0)
                total.start(int(command.m_timeoutSeconds * 1000));
            code = bridge->run() ? ExitCode::Ok : ExitCode::LinkFailure;
        }
    }
    // Objects that the ports released with deleteLater() go now.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return code;
}
