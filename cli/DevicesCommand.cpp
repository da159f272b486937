#include "cli/DevicesCommand.h"

#include "cli/CommonOptions.h"
#include "cli/ExitCode.h"
#include "cli/LogPrinter.h"
#include "cli/PluginHost.h"
#include "host/PluginInterface_Com.h"
#include "host/Plugin_Com_Device.h"
#include "host/Plugin_Com_Port.h"
#include "cli/StdoutWriter.h"
#include "host/TavlinProperty.h"

#include <QFile>
#include <QRegularExpression>

namespace {

QString listOrNone(const QStringList &items)
{
    return items.isEmpty() ? QStringLiteral("(none)") : items.join(QStringLiteral(", "));
}

} // namespace

QString DevicesCommand::plainText(const QString &html)
{
    QString text = html;
    text.remove(QRegularExpression(QStringLiteral("<(head|style|script|title)[^>]*>.*</\\1>"),
                                   QRegularExpression::CaseInsensitiveOption
                                       | QRegularExpression::DotMatchesEverythingOption
                                       | QRegularExpression::InvertedGreedinessOption));
    text.replace(QRegularExpression(QStringLiteral("<[^>]*>")), QStringLiteral(" "));
    text.replace(QStringLiteral("&nbsp;"), QStringLiteral(" "));
    text.replace(QStringLiteral("&lt;"), QStringLiteral("<"));
    text.replace(QStringLiteral("&gt;"), QStringLiteral(">"));
    text.replace(QStringLiteral("&quot;"), QStringLiteral("\""));
    text.replace(QStringLiteral("&#39;"), QStringLiteral("'"));
    text.replace(QStringLiteral("&amp;"), QStringLiteral("&"));
    return text.simplified();
}

int DevicesCommand::run(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Lists every device of the plug-in: its type key, name, brief, and what it can connect to now."));
    parser.addPositionalArgument(QStringLiteral("devices"), QStringLiteral("The command."),
                                 QStringLiteral("[devices]"));
    parser.addOption(CommonOptions::quiet());
    parser.addOption(CommonOptions::plugin());
    if (!CommonOptions::parse(parser, arguments))
        return ExitCode::BadInput;
    if (parser.positionalArguments().size() > 1) {
        LogPrinter::print(QStringLiteral("error"), QStringLiteral("devices takes no arguments"));
        return ExitCode::BadInput;
    }

    LogPrinter log;
    log.setQuiet(parser.isSet(CommonOptions::quiet()));
    log.install();
    PluginHost host;
    if (!CommonOptions::loadPlugin(host, parser))
        return ExitCode::BadInput;

    QList<Plugin_Com_Device *> devices;
    host.plugin()->createDevices(devices);
    QString out = QStringLiteral("Plug-in %1 (%2)\n").arg(host.plugin()->getPluginName(), host.fileName());
    for (Plugin_Com_Device *device : devices) {
        Plugin_Com_Port *port = device->createPort();
        const QString key = port ? port->typeKey() : QStringLiteral("?");
        out += QStringLiteral("\n%1: %2\n").arg(key, device->name());
        QFile brief(device->getDocBriefPath());
        if (brief.open(QIODevice::ReadOnly)) {
            const QString text = plainText(QString::fromUtf8(brief.readAll()));
            if (!text.isEmpty())
                out += QStringLiteral("  brief:     %1\n").arg(text);
        }
        out += QStringLiteral("  available: %1\n").arg(listOrNone(device->availablePorts()));
        if (port) {
            const TavlinProperty *backEnds = port->tavlinProperty(QStringLiteral("interface"));
            if (backEnds && !backEnds->options().isEmpty())
                out += QStringLiteral("  back-ends: %1 (set interface=NAME)\n").arg(listOrNone(backEnds->options()));
            device->deletePort(port);
        }
        host.plugin()->deleteDevice(device);
    }
    StdoutWriter(1).write(out.toLocal8Bit());
    return ExitCode::Ok;
}
