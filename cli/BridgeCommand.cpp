#include "cli/BridgeCommand.h"

#include "cli/Bridge.h"
#include "cli/CommonOptions.h"
#include "cli/ExitCode.h"
#include "cli/LogPrinter.h"
#include "cli/PluginHost.h"
#include "cli/PortHandle.h"
#include "cli/PortLink.h"
#include "cli/PortRequest.h"
#include "host/Plugin_Com_Port.h"

#include <QCoreApplication>
#include <QEvent>

namespace {

int badInput(const QString &message)
{
    LogPrinter::print(QStringLiteral("error"), message);
    return ExitCode::BadInput;
}

QCommandLineOption statsOption()
{
    return QCommandLineOption(QStringLiteral("stats"),
                              QStringLiteral("Print the byte counts of both directions every SECONDS."),
                              QStringLiteral("SECONDS"));
}

void addOptions(QCommandLineParser &parser)
{
    parser.addOption(statsOption());
    parser.addOption(CommonOptions::quiet());
    parser.addOption(CommonOptions::plugin());
}

} // namespace

int BridgeCommand::run(const QStringList &arguments)
{
    const int split = arguments.indexOf(QStringLiteral("--"));
    QCommandLineParser first;
    first.setApplicationDescription(QStringLiteral(
        "Opens two ports and relays in both directions until either link closes, SIGINT or SIGTERM;\n"
        "then prints the byte counts of each direction. Between a CAN port and a byte stream, frames\n"
        "travel as cansend lines (ID#HEXDATA).\n"
        "Example: pcom bridge com device=/dev/ttyUSB0 baudrate=115200 -- tcpServer port=5000\n"
        "Exit status: 0 closed in an orderly way, 1 a link failed or did not open, 2 bad input."));
    first.addPositionalArgument(QStringLiteral("bridge"), QStringLiteral("The command."), QStringLiteral("bridge"));
    first.addPositionalArgument(QStringLiteral("TYPE"), QStringLiteral("First port's type key."));
    first.addPositionalArgument(QStringLiteral("NAME=VALUE"), QStringLiteral("First port's settings."),
                                QStringLiteral("[NAME=VALUE...] -- TYPE [NAME=VALUE...]"));
    addOptions(first);
    if (!CommonOptions::parse(first, split < 0 ? arguments : QStringList(arguments.mid(0, split))))
        return ExitCode::BadInput;
    if (split < 0)
        return badInput(QStringLiteral("bridge needs two ports: TYPE [NAME=VALUE...] -- TYPE [NAME=VALUE...]"));

    QCommandLineParser second;
    addOptions(second);
    if (!CommonOptions::parse(second, QStringList{arguments.first()} + arguments.mid(split + 1)))
        return ExitCode::BadInput;

    const QStringList firstWords = first.positionalArguments().mid(1);
    const QStringList secondWords = second.positionalArguments();
    if (firstWords.isEmpty() || secondWords.isEmpty())
        return badInput(QStringLiteral("bridge needs two ports: TYPE [NAME=VALUE...] -- TYPE [NAME=VALUE...]"));

    const QCommandLineOption stats = statsOption();
    double statsSeconds = 0;
    for (const QCommandLineParser *p : {&first, &second}) {
        if (!p->isSet(stats))
            continue;
        bool ok = false;
        statsSeconds = p->value(stats).toDouble(&ok);
        if (!ok || statsSeconds <= 0 || statsSeconds > 1e6)
            return badInput(QStringLiteral("--stats takes a number of seconds, not '%1'").arg(p->value(stats)));
    }

    LogPrinter log;
    log.setQuiet(first.isSet(CommonOptions::quiet()) || second.isSet(CommonOptions::quiet()));
    log.install();

    PluginHost host;
    const QCommandLineParser &pluginParser = second.isSet(CommonOptions::plugin()) ? second : first;
    if (!CommonOptions::loadPlugin(host, pluginParser))
        return ExitCode::BadInput;

    const PortRequest firstRequest = PortRequest::fromWords(firstWords);
    const PortRequest secondRequest = PortRequest::fromWords(secondWords);
    QString error;
    std::unique_ptr<PortHandle> firstHandle = firstRequest.create(host, &error);
    if (!firstHandle || !firstRequest.configure(*firstHandle, &error))
        return badInput(error);
    std::unique_ptr<PortHandle> secondHandle = secondRequest.create(host, &error);
    if (!secondHandle || !secondRequest.configure(*secondHandle, &error))
        return badInput(error);

    QString firstLabel = firstRequest.typeKey;
    QString secondLabel = secondRequest.typeKey;
    if (firstLabel == secondLabel) {
        firstLabel += QStringLiteral("#1");
        secondLabel += QStringLiteral("#2");
    }

    int code = ExitCode::Ok;
    {
        PortLink firstLink(firstHandle->port(), firstLabel, &log);
        PortLink secondLink(secondHandle->port(), secondLabel, &log);
        Bridge bridge(&firstLink, &secondLink, statsSeconds);
        if (!PortRequest::open(*firstHandle)) {
            LogPrinter::print(QStringLiteral("error"),
                              QStringLiteral("the %1 port did not open (\"connect\" reads false)").arg(firstLabel));
            code = ExitCode::LinkFailure;
        } else if (!PortRequest::open(*secondHandle)) {
            LogPrinter::print(QStringLiteral("error"),
                              QStringLiteral("the %1 port did not open (\"connect\" reads false)").arg(secondLabel));
            firstHandle->port()->close();
            code = ExitCode::LinkFailure;
        } else {
            log.log(KrLog_Interface::Progress,
                    QStringLiteral("pcom: opened the %1 and %2 ports").arg(firstLabel, secondLabel));
            code = bridge.run();
        }
    }
    secondHandle.reset();
    firstHandle.reset();
    // Objects that the ports released with deleteLater() go now.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return code;
}
