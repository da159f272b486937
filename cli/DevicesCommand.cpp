#include "cli/DevicesCommand.h"

#include "cli/CommandContext.h"
#include "cli/EndpointKinds.h"
#include "cli/ExitCode.h"
#include "cli/StdoutWriter.h"
#include "host/PluginInterface_Com.h"

namespace {

QString listOrNone(const QStringList &items)
{
    return items.isEmpty() ? QStringLiteral("(none)") : items.join(QStringLiteral(", "));
}

} // namespace

int DevicesCommand::run(const QStringList &arguments)
{
    CommandContext context(QStringLiteral(
        "Lists every device of the plug-in: its type key, name, brief, and what it can connect to now;\n"
        "then pcom's own ends, the other TYPEs of pcom bridge, with their settings."));
    context.parser().addPositionalArgument(QStringLiteral("devices"), QStringLiteral("The command."),
                                           QStringLiteral("[devices]"));
    if (!context.parse(arguments))
        return ExitCode::BadInput;
    if (context.parser().positionalArguments().size() > 1)
        return CommandContext::badInput(QStringLiteral("devices takes no arguments"));
    if (!context.start())
        return ExitCode::BadInput;

    const PluginHost &host = context.host();
    QString out = QStringLiteral("Plug-in %1 (%2)\n").arg(host.plugin()->getPluginName(), host.fileName());
    for (const PluginHost::DeviceInfo &device : host.devices()) {
        out += QStringLiteral("\n%1: %2\n")
                   .arg(device.typeKey.isEmpty() ? QStringLiteral("?") : device.typeKey, device.name);
        if (!device.brief.isEmpty())
            out += QStringLiteral("  brief:     %1\n").arg(device.brief);
        out += QStringLiteral("  available: %1\n").arg(listOrNone(device.available));
        if (!device.backEnds.isEmpty())
            out += QStringLiteral("  back-ends: %1 (set interface=NAME)\n").arg(listOrNone(device.backEnds));
    }
    out += QStringLiteral("\npcom's own ends (a side of pcom bridge and pcom serve; socketcand and slcan go opposite a CAN port):\n");
    for (const EndpointKinds::Kind &kind : EndpointKinds::kinds()) {
        out += QStringLiteral("%1 (bridge end): %2\n").arg(kind.name, kind.brief);
        if (!kind.settings.isEmpty())
            out += QStringLiteral("  settings:  %1\n").arg(kind.settings);
    }
    StdoutWriter(1).write(out.toLocal8Bit());
    return ExitCode::Ok;
}
