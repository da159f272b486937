#include "cli/DocCommand.h"

#include "cli/CommonOptions.h"
#include "cli/ExitCode.h"
#include "host/HelpRenderer.h"
#include "cli/LogPrinter.h"
#include "cli/PluginHost.h"
#include "cli/PortHandle.h"
#include "cli/PortRequest.h"
#include "host/Plugin_Com_Port.h"
#include "cli/StdoutWriter.h"
#include "host/TavlinProperty.h"
#include "host/Version.h"

#include <QFile>

namespace {

int badInput(const QString &message)
{
    LogPrinter::print(QStringLiteral("error"), message);
    return ExitCode::BadInput;
}

} // namespace

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
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Renders the help page of a device as the host shows it: its page with name, icon, brief and the\n"
        "table of the port properties that the host version supports (by default the newest version that\n"
        "the properties name), as one self-contained HTML page."));
    parser.addPositionalArgument(QStringLiteral("doc"), QStringLiteral("The command."), QStringLiteral("doc"));
    parser.addPositionalArgument(QStringLiteral("TYPE"),
                                 QStringLiteral("Port type key: com, canBus, tcpServer, tcpClient, udpClient."));
    const QCommandLineOption output(QStringList{QStringLiteral("o"), QStringLiteral("output")},
                                    QStringLiteral("Write the page to FILE instead of standard output."),
                                    QStringLiteral("FILE"));
    parser.addOption(output);
    parser.addOption(CommonOptions::hostVersion());
    parser.addOption(CommonOptions::quiet());
    parser.addOption(CommonOptions::plugin());
    if (!CommonOptions::parse(parser, arguments))
        return ExitCode::BadInput;
    const QStringList words = parser.positionalArguments().mid(1);
    if (words.size() != 1)
        return badInput(QStringLiteral("doc takes one TYPE (see pcom doc --help)"));
    const bool versionGiven = parser.isSet(CommonOptions::hostVersion());
    const Version requested(parser.value(CommonOptions::hostVersion()));
    if (versionGiven && !requested.isValid())
        return badInput(QStringLiteral("'%1' is no host version (expected e.g. 2.12)")
                            .arg(parser.value(CommonOptions::hostVersion())));
    if (parser.isSet(output) && parser.value(output).isEmpty())
        return badInput(QStringLiteral("-o needs a file name"));

    LogPrinter log;
    log.setQuiet(parser.isSet(CommonOptions::quiet()));
    log.install();
    PluginHost host;
    if (!CommonOptions::loadPlugin(host, parser))
        return ExitCode::BadInput;
    QString error;
    std::unique_ptr<PortHandle> handle = PortRequest::fromWords(words).create(host, &error);
    if (!handle)
        return badInput(error);

    const Version version = versionGiven ? requested : newestNamedVersion(handle->port());
    const QString page = HelpRenderer::render(handle->device(), version);
    if (page.isNull()) {
        LogPrinter::print(QStringLiteral("error"), QStringLiteral("the %1 device has no help page").arg(words.first()));
        return ExitCode::LinkFailure;
    }
    const QByteArray bytes = page.toUtf8();
    if (!parser.isSet(output)) {
        StdoutWriter(1).write(bytes);
        return ExitCode::Ok;
    }
    QFile file(parser.value(output));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size()) {
        return badInput(QStringLiteral("cannot write %1: %2").arg(parser.value(output), file.errorString()));
    }
    return ExitCode::Ok;
}
