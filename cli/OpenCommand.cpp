#include "cli/OpenCommand.h"

#include "cli/CommandContext.h"
#include "cli/ExitCode.h"
#include "cli/Shutdown.h"
#include "cli/StdioRelay.h"
#include "host/Plugin_Com_Port.h"
#include "hostlib/PortHandle.h"
#include "hostlib/PortLink.h"

#include <QCoreApplication>
#include <QEvent>

int OpenCommand::run(const QStringList &arguments)
{
    CommandContext context(QStringLiteral(
        "Creates a port, writes its properties in the order given, opens it (\"connect\" = true) and relays\n"
        "standard input to the port and what the port reads to standard output. When standard input ends\n"
        "and everything has left (a TCP client then ends its sending direction), pcom prints what arrives\n"
        "until the peer closes or the link has been quiet for half a second (or for -w SECONDS), then closes\n"
        "the port. Over UDP each read of standard input is one datagram of at most 65507 bytes.\n"
        "CAN ports take one frame per line in cansend notation (123#DEADBEEF, 1F334455#11.22.33, 123#)\n"
        "and print each received frame as ID#HEXDATA.\n"
        "Exit status: 0 closed in an orderly way (by pcom, by the peer, on SIGINT/SIGTERM) with every byte\n"
        "of standard input written out, 1 the link failed, did not open or bytes were left over (their count\n"
        "is printed), 2 bad input (nothing was opened)."));
    QCommandLineParser &parser = context.parser();
    parser.addPositionalArgument(QStringLiteral("open"), QStringLiteral("The command."), QStringLiteral("open"));
    parser.addPositionalArgument(QStringLiteral("TYPE"),
                                 QStringLiteral("Port type key: com, canBus, tcpServer, tcpClient, udpClient."));
    parser.addPositionalArgument(QStringLiteral("NAME=VALUE"),
                                 QStringLiteral("Property settings, written in this order (see pcom props TYPE)."),
                                 QStringLiteral("[NAME=VALUE...]"));
    const QCommandLineOption wait(
        QStringList{QStringLiteral("w"), QStringLiteral("wait")},
        QStringLiteral("After standard input ends, print what arrives for SECONDS, then close."),
        QStringLiteral("SECONDS"));
    const QCommandLineOption hex(
        QStringLiteral("hex"),
        QStringLiteral("Show received data as a hex dump; read lines of hex digits from standard "
                       "input, each line one write."));
    const QCommandLineOption canPlugin(QStringLiteral("can-plugin"),
                                       QStringLiteral("Qt CAN back-end to use (short for interface=NAME)."),
                                       QStringLiteral("NAME"));
    context.addOption(wait);
    context.addOption(hex);
    context.addOption(canPlugin);
    if (!context.parse(arguments))
        return ExitCode::BadInput;

    const QStringList words = context.words();
    if (words.isEmpty())
        return CommandContext::badInput(QStringLiteral("open: missing TYPE (see pcom open --help)"));
    double linger = -1;
    if (!context.seconds(wait, -1, true, &linger) || !context.start())
        return ExitCode::BadInput;

    std::unique_ptr<PortHandle> handle = context.createPort(words.first());
    if (!handle)
        return ExitCode::BadInput;
    Plugin_Com_Port *port = handle->port();
    const QString typeKey = handle->typeKey();
    if (context.isSet(canPlugin) && !port->usesFrameIds())
        return CommandContext::badInput(
            QStringLiteral("--can-plugin applies to CAN ports only, not to %1").arg(typeKey));
    if (context.isSet(hex) && port->usesFrameIds())
        return CommandContext::badInput(
            QStringLiteral("--hex applies to byte streams; a %1 port reads and writes ID#DATA lines").arg(typeKey));
    QStringList settings = words.mid(1);
    if (context.isSet(canPlugin))
        settings.prepend(QStringLiteral("interface=") + context.value(canPlugin));
    if (!CommandContext::configure(*handle, settings))
        return ExitCode::BadInput;

    DataCodec::Mode mode = DataCodec::Raw;
    if (port->usesFrameIds())
        mode = DataCodec::Frames;
    else if (context.isSet(hex))
        mode = DataCodec::Hex;

    int code = ExitCode::Ok;
    {
        PortLink link(port, typeKey);
        StdioRelay relay(&link, mode, linger);
        // Watches for signals from here on, so that one during the open
        // still closes the port cleanly.
        Shutdown shutdown;
        QObject::connect(&shutdown, &Shutdown::stopRequested, &relay,
                         [&relay]() { relay.stop(Shutdown::signalFlushMs); });
        QObject::connect(&shutdown, &Shutdown::abortRequested, &relay, &StdioRelay::abort);
        if (!handle->open()) {
            CommandContext::say(QStringLiteral("error"),
                                QStringLiteral("the %1 port did not open (\"connect\" reads false)").arg(typeKey));
            code = ExitCode::LinkFailure;
        } else {
            context.log().log(KrLog_Interface::Progress, QStringLiteral("pcom: opened the %1 port").arg(typeKey));
            code = relay.run();
        }
    }
    handle.reset();
    // Objects that the port released with deleteLater() go now.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return code;
}
