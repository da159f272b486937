#include "cli/BridgeCommand.h"

#include "cli/CommandContext.h"
#include "cli/ExitCode.h"
#include "cli/SerialOptions.h"
#include "cli/Shutdown.h"
#include "cli/TlsOptions.h"
#include "host/Plugin_Com_Port.h"
#include "hostlib/Bridge.h"
#include "hostlib/PortHandle.h"
#include "hostlib/PortLink.h"
#include "hostlib/Rfc2217Server.h"

#include <QCoreApplication>
#include <QEvent>

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
        "The serial options apply to the com side (or both).\n"
        "Example: pcom bridge com device=/dev/ttyUSB0 baudrate=115200 --parity even -- tcpServer port=5000\n"
        "Exit status: 0 closed in an orderly way with every byte delivered, 1 a link failed, did not open,\n"
        "a serial setting was refused, bytes were left over or lines or frames were skipped, 2 bad input.")),
      m_stats(QStringLiteral("stats"), QStringLiteral("Print the byte counts of both directions every SECONDS."),
              QStringLiteral("SECONDS")),
      m_hold(QStringLiteral("hold"),
             QStringLiteral("Hold up to BYTES for a side that has nobody to take them (a TCP "
                            "server without a client) instead of dropping them."),
             QStringLiteral("BYTES")),
      m_rfc2217(QStringLiteral("rfc2217"),
                QStringLiteral("Serve the com side to the clients of the tcpServer side as a "
                               "Telnet COM port (RFC 2217): they set the line and see its state."))
{
    QCommandLineParser &parser = m_context.parser();
    parser.addPositionalArgument(QStringLiteral("bridge"), QStringLiteral("The command."), QStringLiteral("bridge"));
    parser.addPositionalArgument(QStringLiteral("TYPE"), QStringLiteral("First port's type key."));
    parser.addPositionalArgument(QStringLiteral("NAME=VALUE"), QStringLiteral("First port's settings."),
                                 QStringLiteral("[NAME=VALUE...] -- TYPE [NAME=VALUE...]"));
    m_context.addOption(m_stats);
    m_context.addOption(m_hold);
    m_context.addOption(m_rfc2217);
    m_serial = std::make_unique<SerialOptions>(m_context);
    m_tls = std::make_unique<TlsOptions>(m_context);
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
    if (!m_context.seconds(m_stats, 0, false, &m_statsSeconds))
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
    return m_serial->check(m_context) && m_service.check(m_context) && m_tls->check(m_context);
}

bool BridgeCommand::prepare(PluginHost &host)
{
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
    if (!m_service.fits({first, second}) || !m_tls->fits({first, second})
        || !CommandContext::configure(*m_firstHandle, m_firstWords.mid(1))
        || !CommandContext::configure(*m_secondHandle, m_secondWords.mid(1)) || !m_tls->apply(first)
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
    return m_service.setUp(*m_firstHandle, m_firstLink.get(), reopen(*m_firstHandle, m_firstLabel), &m_firstSide)
        && m_service.setUp(*m_secondHandle, m_secondLink.get(), reopen(*m_secondHandle, m_secondLabel), &m_secondSide);
}

bool BridgeCommand::open()
{
    // A com side gets the serial settings as soon as it is open.
    const auto openSide = [this](PortHandle &handle, const QString &label) {
        if (!CommandContext::open(handle, label))
            return false;
        if (m_serial->apply(handle.port(), label))
            return true;
        handle.port()->close();
        return false;
    };
    if (!openSide(*m_firstHandle, m_firstLabel))
        return false;
    if (!openSide(*m_secondHandle, m_secondLabel)) {
        m_firstHandle->port()->close();
        return false;
    }
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
        if (!command.open())
            code = ExitCode::LinkFailure;
        else
            code = bridge->run() ? ExitCode::Ok : ExitCode::LinkFailure;
    }
    // Objects that the ports released with deleteLater() go now.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return code;
}
