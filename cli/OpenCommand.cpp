#include "cli/OpenCommand.h"

#include "cli/CommonOptions.h"
#include "cli/ExitCode.h"
#include "cli/LogPrinter.h"
#include "cli/PluginHost.h"
#include "cli/PortHandle.h"
#include "cli/PortLink.h"
#include "cli/PortRequest.h"
#include "host/Plugin_Com_Port.h"
#include "cli/StdioRelay.h"

#include <QCoreApplication>
#include <QEvent>

namespace {

int badInput(const QString &message)
{
    LogPrinter::print(QStringLiteral("error"), message);
    return ExitCode::BadInput;
}

} // namespace

int OpenCommand::run(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Creates a port, writes its properties in the order given, opens it (\"connect\" = true) and relays\n"
        "standard input to the port and what the port reads to standard output. When standard input ends,\n"
        "pcom prints what arrives until the link has been quiet for half a second (or for -w SECONDS), then\n"
        "closes the port once everything written has left.\n"
        "CAN ports take one frame per line in cansend notation (123#DEADBEEF, 1F334455#11.22.33, 123#)\n"
        "and print each received frame as ID#HEXDATA.\n"
        "Exit status: 0 closed in an orderly way (by pcom, by the peer, on SIGINT/SIGTERM), 1 the link\n"
        "failed or did not open, 2 bad input (nothing was opened)."));
    parser.addPositionalArgument(QStringLiteral("open"), QStringLiteral("The command."), QStringLiteral("open"));
    parser.addPositionalArgument(QStringLiteral("TYPE"),
                                 QStringLiteral("Port type key: com, canBus, tcpServer, tcpClient, udpClient."));
    parser.addPositionalArgument(QStringLiteral("NAME=VALUE"),
                                 QStringLiteral("Property settings, written in this order (see pcom props TYPE)."),
                                 QStringLiteral("[NAME=VALUE...]"));
    const QCommandLineOption wait(QStringList{QStringLiteral("w"), QStringLiteral("wait")},
                                  QStringLiteral("After standard input ends, print what arrives for SECONDS, then close."),
                                  QStringLiteral("SECONDS"));
    const QCommandLineOption hex(QStringLiteral("hex"),
                                 QStringLiteral("Show received data as a hex dump; read lines of hex digits from standard "
                                                "input, each line one write."));
    const QCommandLineOption canPlugin(QStringLiteral("can-plugin"),
                                       QStringLiteral("Qt CAN back-end to use (short for interface=NAME)."),
                                       QStringLiteral("NAME"));
    parser.addOption(wait);
    parser.addOption(hex);
    parser.addOption(canPlugin);
    parser.addOption(CommonOptions::quiet());
    parser.addOption(CommonOptions::plugin());
    if (!CommonOptions::parse(parser, arguments))
        return ExitCode::BadInput;

    QStringList words = parser.positionalArguments().mid(1);
    if (words.isEmpty())
        return badInput(QStringLiteral("open: missing TYPE (see pcom open --help)"));
    double linger = -1;
    if (parser.isSet(wait)) {
        bool ok = false;
        linger = parser.value(wait).toDouble(&ok);
        if (!ok || linger < 0 || linger > 1e6)
            return badInput(QStringLiteral("-w takes a number of seconds, not '%1'").arg(parser.value(wait)));
    }

    LogPrinter log;
    log.setQuiet(parser.isSet(CommonOptions::quiet()));
    log.install();

    PluginHost host;
    if (!CommonOptions::loadPlugin(host, parser))
        return ExitCode::BadInput;

    PortRequest request = PortRequest::fromWords(words);
    QString error;
    std::unique_ptr<PortHandle> handle = request.create(host, &error);
    if (!handle)
        return badInput(error);
    Plugin_Com_Port *port = handle->port();
    if (parser.isSet(canPlugin) && !port->usesFrameIds())
        return badInput(QStringLiteral("--can-plugin applies to CAN ports only, not to %1").arg(request.typeKey));
    if (parser.isSet(hex) && port->usesFrameIds())
        return badInput(QStringLiteral("--hex applies to byte streams; a %1 port reads and writes ID#DATA lines")
                            .arg(request.typeKey));
    if (parser.isSet(canPlugin))
        request.assignments.prepend({QStringLiteral("interface"), parser.value(canPlugin), true});
    if (!request.configure(*handle, &error))
        return badInput(error);

    InputDecoder::Mode input = InputDecoder::Raw;
    OutputEncoder::Mode output = OutputEncoder::Raw;
    if (port->usesFrameIds()) {
        input = InputDecoder::Frames;
        output = OutputEncoder::Frames;
    } else if (parser.isSet(hex)) {
        input = InputDecoder::Hex;
        output = OutputEncoder::Hex;
    }

    int code = ExitCode::Ok;
    {
        PortLink link(port, request.typeKey, &log);
        // Watches for signals from here on, so that one during the open
        // still closes the port cleanly.
        StdioRelay relay(&link, input, output, linger);
        if (!PortRequest::open(*handle)) {
            LogPrinter::print(QStringLiteral("error"),
                              QStringLiteral("the %1 port did not open (\"connect\" reads false)").arg(request.typeKey));
            code = ExitCode::LinkFailure;
        } else {
            log.log(KrLog_Interface::Progress, QStringLiteral("pcom: opened the %1 port").arg(request.typeKey));
            code = relay.run();
        }
    }
    handle.reset();
    // Objects that the port released with deleteLater() go now.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return code;
}
