#include "cli/PropsCommand.h"

#include "cli/CommonOptions.h"
#include "cli/ExitCode.h"
#include "cli/LogPrinter.h"
#include "cli/PluginHost.h"
#include "cli/PortHandle.h"
#include "cli/PortRequest.h"
#include "cli/PropertyAssigner.h"
#include "host/Plugin_Com_Port.h"
#include "cli/StdoutWriter.h"
#include "host/TavlinProperty.h"
#include "host/Version.h"

namespace {

int badInput(const QString &message)
{
    LogPrinter::print(QStringLiteral("error"), message);
    return ExitCode::BadInput;
}

QString field(const QString &label, const QString &value)
{
    return QStringLiteral("  %1 %2\n").arg(label + QLatin1Char(':'), -12).arg(value);
}

} // namespace

QString PropsCommand::inputTypeName(int inputType)
{
    switch (inputType) {
    case TavlinProperty::FreeText:
        return QStringLiteral("text");
    case TavlinProperty::Choice:
        return QStringLiteral("choice");
    case TavlinProperty::Boolean:
        return QStringLiteral("boolean");
    }
    return QString::number(inputType);
}

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
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Lists the property records of a new port of that kind: name, input type, default, current value,\n"
        "options, validator, whether it is writable, description and the host versions that support it."));
    parser.addPositionalArgument(QStringLiteral("props"), QStringLiteral("The command."), QStringLiteral("props"));
    parser.addPositionalArgument(QStringLiteral("TYPE"),
                                 QStringLiteral("Port type key: com, canBus, tcpServer, tcpClient, udpClient."));
    parser.addOption(CommonOptions::hostVersion());
    parser.addOption(CommonOptions::quiet());
    parser.addOption(CommonOptions::plugin());
    if (!CommonOptions::parse(parser, arguments))
        return ExitCode::BadInput;
    const QStringList words = parser.positionalArguments().mid(1);
    if (words.size() != 1)
        return badInput(QStringLiteral("props takes one TYPE (see pcom props --help)"));

    bool filter = parser.isSet(CommonOptions::hostVersion());
    const Version hostVersion(parser.value(CommonOptions::hostVersion()));
    if (filter && !hostVersion.isValid())
        return badInput(QStringLiteral("'%1' is no host version (expected e.g. 2.12)")
                            .arg(parser.value(CommonOptions::hostVersion())));

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

    const Plugin_Com_Port *port = handle->port();
    QString out = QStringLiteral("Properties of a new %1 port").arg(handle->typeKey());
    if (filter)
        out += QStringLiteral(" supported by host version %1").arg(hostVersion.toString());
    out += QStringLiteral(":\n");
    for (const TavlinProperty *record : port->tavlinProperties()) {
        if (filter && !record->isSupported(hostVersion))
            continue;
        out += QStringLiteral("\n%1\n").arg(record->name());
        out += field(QStringLiteral("type"), inputTypeName(record->inputType()));
        out += field(QStringLiteral("default"), QStringLiteral("\"%1\"").arg(record->defaultValue()));
        out += field(QStringLiteral("value"),
                     QStringLiteral("\"%1\"").arg(port->getTavlinProperty(record->name()).toString()));
        if (!record->options().isEmpty())
            out += field(QStringLiteral("options"), record->options().join(QStringLiteral(", ")));
        const QString expected = PropertyAssigner::expectation(handle->typeKey(), record);
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
