#include "cli/CommandContext.h"

#include "cli/ExitCode.h"
#include "cli/StdoutWriter.h"
#include "core/PCom_LinkStatus.h"
#include "core/PCom_SerialLine.h"
#include "hostlib/PortHandle.h"

#include <QCoreApplication>

#include <cstdlib>

QString *CommandContext::s_captured = nullptr;
QString *CommandContext::s_help = nullptr;

CommandContext::CommandContext(const QString &description)
    : m_quiet(QStringList{QStringLiteral("q"), QStringLiteral("quiet")},
              QStringLiteral("Leave out trace and progress log lines.")),
      m_plugin(QStringList{QStringLiteral("plugin")},
               QStringLiteral("The plug-in file to load (default: found next to pcom, where it is installed, or in "
                              "the build tree)."),
               QStringLiteral("FILE"))
{
    m_parser.setApplicationDescription(description);
    m_parser.addOption(m_quiet);
    m_parser.addOption(m_plugin);
}

QCommandLineOption CommandContext::hostVersionOption()
{
    return QCommandLineOption(QStringList{QStringLiteral("host-version")},
                              QStringLiteral("Only the properties that host version V supports, e.g. 2.12."),
                              QStringLiteral("V"));
}

void CommandContext::addOptionalValue(const QCommandLineOption &option, const QString &fallback,
                                      std::function<bool(const QString &)> isValue)
{
    m_parser.addOption(option);
    m_optional.append({option.names().constLast(), option.valueName(), fallback, std::move(isValue)});
}

QStringList CommandContext::withOptionalValues(const QStringList &arguments) const
{
    QStringList out;
    for (int i = 0; i < arguments.size(); ++i) {
        QString word = arguments.at(i);
        for (const OptionalValue &o : m_optional) {
            if (word != QLatin1String("--") + o.name)
                continue;
            const bool valueNext = i + 1 < arguments.size() && o.isValue(arguments.at(i + 1));
            word += QLatin1Char('=') + (valueNext ? arguments.at(++i) : o.fallback);
        }
        out.append(word);
    }
    return out;
}

QString CommandContext::helpText() const
{
    QString text = m_parser.helpText();
    const QString path = QCoreApplication::arguments().value(0);
    if (text.startsWith(QStringLiteral("Usage: ") + path))
        text.replace(7, path.size(), QStringLiteral("pcom"));
    // "--NAME <V>" becomes "--NAME[=V]", as long: the columns stay.
    for (const OptionalValue &o : m_optional)
        text.replace(QStringLiteral("--%1 <%2>").arg(o.name, o.valueName),
                     QStringLiteral("--%1[=%2]").arg(o.name, o.valueName));
    return text;
}

bool CommandContext::parse(const QStringList &arguments)
{
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Displays this help."));
    const QCommandLineOption helpAll(QStringLiteral("help-all"),
                                     QStringLiteral("Displays the help of every command (the manual page's text)."));
    m_parser.addOption(help);
    m_parser.addOption(helpAll);
    const QCommandLineOption version = m_parser.addVersionOption();
    if (!m_parser.parse(withOptionalValues(arguments))) {
        badInput(m_parser.errorText());
        return false;
    }
    if (m_parser.isSet(version)) {
        StdoutWriter(1).write(QStringLiteral("pcom %1\n").arg(QCoreApplication::applicationVersion()).toLocal8Bit());
        std::exit(ExitCode::Ok);
    }
    if (m_parser.isSet(help) || m_parser.isSet(helpAll)) {
        if (s_help) {
            *s_help += helpText();
            return false;
        }
        StdoutWriter(1).write(helpText().toLocal8Bit());
        std::exit(ExitCode::Ok);
    }
    return true;
}

bool CommandContext::seconds(const QCommandLineOption &option, double fallback, bool zeroAllowed,
                             double *out) const
{
    *out = fallback;
    if (!m_parser.isSet(option))
        return true;
    bool ok = false;
    const double value = m_parser.value(option).toDouble(&ok);
    if (!ok || value < 0 || value > 1e6 || (!zeroAllowed && value == 0)) {
        const QString name = option.names().constFirst();
        const QString spelled = (name.size() == 1 ? QStringLiteral("-") : QStringLiteral("--")) + name;
        badInput(QStringLiteral("%1 takes a number of seconds, not '%2'").arg(spelled, m_parser.value(option)));
        return false;
    }
    *out = value;
    return true;
}

bool CommandContext::start()
{
    m_log.setQuiet(m_parser.isSet(m_quiet));
    m_log.install();
    QString error;
    if (!m_host.load(m_parser.value(m_plugin), &error)) {
        badInput(error);
        return false;
    }
    return true;
}

std::unique_ptr<PortHandle> CommandContext::createPort(const QString &typeKey)
{
    QString error;
    std::unique_ptr<PortHandle> handle = PortHandle::create(m_host, typeKey, &error);
    if (!handle)
        badInput(error);
    return handle;
}

bool CommandContext::configure(PortHandle &handle, const QStringList &settings)
{
    QString error;
    if (handle.configure(settings, &error))
        return true;
    badInput(error);
    return false;
}

bool CommandContext::open(PortHandle &handle, const QString &label)
{
    if (handle.open())
        return true;
    QString reason = handle.linkStatus() ? handle.linkStatus()->lastErrorString() : QString();
    // The plug-in says that the line is locked; we can say by whom.
    const PCom_SerialLine *line = PluginHost::face<PCom_SerialLine>(handle.port());
    if (line && line->lockHolder() > 0)
        reason += QStringLiteral(" (the line is held by process %1)").arg(line->lockHolder());
    say(QStringLiteral("error"), QStringLiteral("the %1 port did not open (\"connect\" reads false)%2")
                                     .arg(label, reason.isEmpty() ? QString() : QStringLiteral(": ") + reason));
    return false;
}

int CommandContext::badInput(const QString &message)
{
    if (s_captured) {
        if (s_captured->isEmpty())
            *s_captured = message;
        return ExitCode::BadInput;
    }
    say(QStringLiteral("error"), message);
    return ExitCode::BadInput;
}

void CommandContext::say(const QString &kind, const QString &text)
{
    LogReceiver::post(kind, text);
}
