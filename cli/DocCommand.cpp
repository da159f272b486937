#include "cli/DocCommand.h"

#include "cli/CommandContext.h"
#include "cli/ExitCode.h"
#include "cli/StdoutWriter.h"
#include "host/HelpRenderer.h"
#include "host/Plugin_Com_Port.h"
#include "host/TavlinProperty.h"
#include "host/Version.h"
#include "hostlib/PortHandle.h"

#include <QFile>

Version DocCommand::newestNamedVersion(const Plugin_Com_Port *port)
{
    Version newest(-1, 0, 0);
    for (const TavlinProperty *record : port->tavlinProperties()) {
        for (const Version &v : {record->minVersion(), record->maxVersion()}) {
            if (!v.isOpenEnd() && (newest.isOpenEnd() || v > newest))
                newest = v;
        }
    }
    return newest;
}

int DocCommand::run(const QStringList &arguments)
{
    CommandContext context(QStringLiteral(
        "Renders the help page of a device as the host shows it: its page with name, icon, brief and the\n"
        "table of the port properties that the host version supports (by default the newest version that\n"
        "the properties name), as one self-contained HTML page."));
    context.parser().addPositionalArgument(QStringLiteral("doc"), QStringLiteral("The command."),
                                           QStringLiteral("doc"));
    context.parser().addPositionalArgument(
        QStringLiteral("TYPE"), QStringLiteral("Port type key: com, canBus, tcpServer, tcpClient, udpClient."));
    const QCommandLineOption output(QStringList{QStringLiteral("o"), QStringLiteral("output")},
                                    QStringLiteral("Write the page to FILE instead of standard output."),
                                    QStringLiteral("FILE"));
    const QCommandLineOption versionOption = CommandContext::hostVersionOption();
    context.addOption(output);
    context.addOption(versionOption);
    if (!context.parse(arguments))
        return ExitCode::BadInput;
    const QStringList words = context.words();
    if (words.size() != 1)
        return CommandContext::badInput(QStringLiteral("doc takes one TYPE (see pcom doc --help)"));
    const bool versionGiven = context.isSet(versionOption);
    const Version requested(context.value(versionOption));
    if (versionGiven && !requested.isValid())
        return CommandContext::badInput(
            QStringLiteral("'%1' is no host version (expected e.g. 2.12)").arg(context.value(versionOption)));
    if (context.isSet(output) && context.value(output).isEmpty())
        return CommandContext::badInput(QStringLiteral("-o needs a file name"));
    if (!context.start())
        return ExitCode::BadInput;
    const std::unique_ptr<PortHandle> handle = context.createPort(words.first());
    if (!handle)
        return ExitCode::BadInput;

    const Version version = versionGiven ? requested : newestNamedVersion(handle->port());
    const QString page = HelpRenderer::render(handle->device(), version);
    if (page.isNull()) {
        CommandContext::say(QStringLiteral("error"),
                            QStringLiteral("the %1 device has no help page").arg(words.first()));
        return ExitCode::LinkFailure;
    }
    const QByteArray bytes = page.toUtf8();
    if (!context.isSet(output)) {
        StdoutWriter(1).write(bytes);
        return ExitCode::Ok;
    }
    QFile file(context.value(output));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        return CommandContext::badInput(
            QStringLiteral("cannot write %1: %2").arg(context.value(output), file.errorString()));
    return ExitCode::Ok;
}
