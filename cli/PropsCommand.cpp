#include "cli/PropsCommand.h"

#include "cli/CommandContext.h"
#include "cli/ExitCode.h"
#include "cli/StdoutWriter.h"
#include "host/Plugin_Com_Port.h"
#include "host/TavlinProperty.h"
#include "host/Version.h"
#include "hostlib/PortHandle.h"
#include "hostlib/PropertyAssigner.h"

namespace {

QString field(const QString &label, const QString &value)
{
    return QStringLiteral("  %1 %2\n").arg(label + QLatin1Char(':'), -12).arg(value);
}

} // namespace
QString PropsCommand::versionRange(const TavlinProperty *record)
{
    const Version min = record->minVersion();
    const Version max = record->maxVersion();
    if (min.isOpenEnd() && max.isOpenEnd())
        return QStringLiteral("all versions");
    if (max.isOpenEnd())
        return QStringLiteral("from %1").arg(min.toString());
    if (min.isOpenEnd())
        return QStringLiteral("up to %1").arg(max.toString());
    return QStringLiteral("%1 to %2").arg(min.toString(), max.toString());
}

int PropsCommand::run(const QStringList &arguments)
{
    CommandContext context(QStringLiteral(
        "Lists the property records of a new port of that kind: name, input type, default, current value,\n"
        "options, validator, whether it is writable, description and the host versions that support it."));
    context.parser().addPositionalArgument(QStringLiteral("props"), QStringLiteral("The command."),
                                           QStringLiteral("props"));
    context.parser().addPositionalArgument(
        QStringLiteral("TYPE"), QStringLiteral("Port type key: com, canBus, tcpServer, tcpClient, udpClient."));
    const QCommandLineOption versionOption = CommandContext::hostVersionOption();
    context.addOption(versionOption);
    if (!context.parse(arguments))
        return ExitCode::BadInput;
    const QStringList words = context.words();
    if (words.size() != 1)
        return CommandContext::badInput(QStringLiteral("props takes one TYPE (see pcom props --help)"));
    const bool filter = context.isSet(versionOption);
    const Version hostVersion(context.value(versionOption));
    if (filter && !hostVersion.isValid())
        return CommandContext::badInput(
            QStringLiteral("'%1' is no host version (expected e.g. 2.12)").arg(context.value(versionOption)));
    if (!context.start())
        return ExitCode::BadInput;
    const std::unique_ptr<PortHandle> handle = context.createPort(words.first());
    if (!handle)
        return ExitCode::BadInput;

    const Plugin_Com_Port *port = handle->port();
    QString out = QStringLiteral("Properties of a new %1 port").arg(handle->typeKey());
    if (filter)
        out += QStringLiteral(" supported by host version %1").arg(hostVersion.toString());
    out += QStringLiteral(":\n");
    for (const TavlinProperty *record : port->tavlinProperties()) {
        if (filter && !record->isSupported(hostVersion))
            continue;
        out += QStringLiteral("\n%1\n").arg(record->name());
        out += field(QStringLiteral("type"), TavlinProperty::inputTypeName(record->inputType()));
        out += field(QStringLiteral("default"), QStringLiteral("\"%1\"").arg(record->defaultValue()));
        out += field(QStringLiteral("value"),
                     QStringLiteral("\"%1\"").arg(port->getTavlinProperty(record->name()).toString()));
        if (!record->options().isEmpty())
            out += field(QStringLiteral("options"), record->options().join(QStringLiteral(", ")));
        const QString expected =
            PropertyAssigner::expectation(handle->port(), record, PropertyAssigner::Addresses::Resolved);
        if (!expected.isEmpty())
            out += field(QStringLiteral("accepts"), expected);
        out += field(QStringLiteral("writable"), record->isWritable() ? QStringLiteral("yes") : QStringLiteral("no"));
        if (!record->description.isEmpty())
            out += field(QStringLiteral("description"), record->description);
        out += field(QStringLiteral("versions"), versionRange(record));
    }
    StdoutWriter(1).write(out.toLocal8Bit());
    return ExitCode::Ok;
}
