#include "cli/SerialOptions.h"

#include "cli/CommandContext.h"
#include "core/PCom_LinkStatus.h"

namespace {

QString linkError(QObject *port)
{
    const PCom_LinkStatus *status = qobject_cast<PCom_LinkStatus *>(port);
    return status ? status->lastErrorString() : QString();
}

} // namespace

SerialOptions::SerialOptions(CommandContext &context)
    : m_options{
          {QStringLiteral("data-bits"), QStringLiteral("Serial: data bits per character."), QStringLiteral("5|6|7|8")},
          {QStringLiteral("parity"), QStringLiteral("Serial: parity."), QStringLiteral("none|even|odd|space|mark")},
          {QStringLiteral("stop-bits"), QStringLiteral("Serial: stop bits."), QStringLiteral("1|1.5|2")},
          {QStringLiteral("flow-control"), QStringLiteral("Serial: flow control."),
           QStringLiteral("none|rtscts|xonxoff")},
          {QStringLiteral("dtr"), QStringLiteral("Serial: the DTR line's level."), QStringLiteral("on|off")},
          {QStringLiteral("rts"), QStringLiteral("Serial: the RTS line's level (not with rtscts)."),
           QStringLiteral("on|off")},
          {QStringLiteral("break"), QStringLiteral("Serial: send a break of MS milliseconds once the line is open."),
           QStringLiteral("MS")},
      }
{
    for (const QCommandLineOption &option : qAsConst(m_options))
        context.addOption(option);
}

bool SerialOptions::check(const CommandContext &context)
{
    static const char *const properties[] = {"dataBits",          "parity",         "stopBits", "flowControl",
                                             "dataTerminalReady", "requestToSend"};
    for (int i = 0; i < m_options.size(); ++i) {
        const QCommandLineOption &option = m_options.at(i);
        if (!context.isSet(option))
            continue;
        const QString name = QStringLiteral("--") + option.names().constFirst();
        if (m_first.isEmpty())
            m_first = name;
        const QString value = context.value(option);
        if (option.valueName() == QLatin1String("MS")) {
            bool ok = false;
            m_breakMs = value.toInt(&ok);
            if (!ok || m_breakMs < 1 || m_breakMs > 10000) {
                CommandContext::badInput(
                    QStringLiteral("--break takes milliseconds from 1 to 10000, not '%1'").arg(value));
                return false;
            }
            continue;
        }
        const QStringList choices = option.valueName().split(QLatin1Char('|'));
        if (!choices.contains(value)) {
            CommandContext::badInput(
                QStringLiteral("%1 takes %2, not '%3'").arg(name, choices.join(QStringLiteral(", ")), value));
            return false;
        }
        QVariant typed = value;
        if (i == 0)
            typed = value.toInt();
        else if (choices.constFirst() == QLatin1String("on"))
            typed = value == QLatin1String("on");
        m_settings.append({properties[i], typed, name + QLatin1Char(' ') + value});
    }
    return true;
}

bool SerialOptions::apply(QObject *port, const QString &label) const
{
    bool ok = true;
    for (const Setting &setting : m_settings) {
        const QString errorBefore = linkError(port);
        const bool written = port->setProperty(setting.property, setting.value);
        const QString errorAfter = linkError(port);
        if (written && port->property(setting.property) == setting.value && errorAfter == errorBefore)
            continue;
        const QString why = errorAfter.isEmpty()
                                ? QStringLiteral("it reads back '%1'").arg(port->property(setting.property).toString())
                                : errorAfter;
        CommandContext::say(QStringLiteral("error"),
                            QStringLiteral("the %1 line refused %2: %3").arg(label, setting.shown, why));
        ok = false;
    }
    return ok && (m_breakMs <= 0 || sendBreak(port, m_breakMs));
}

bool SerialOptions::sendBreak(QObject *port, int milliseconds)
{
    bool sent = false;
    if (!QMetaObject::invokeMethod(port, "sendBreak", Qt::DirectConnection, Q_RETURN_ARG(bool, sent),
                                   Q_ARG(int, milliseconds))) {
        CommandContext::say(QStringLiteral("error"), QStringLiteral("a break goes on serial lines only"));
        return false;
    }
    if (!sent)
        CommandContext::say(QStringLiteral("error"), QStringLiteral("the break was not sent: %1").arg(linkError(port)));
    return sent;
}
