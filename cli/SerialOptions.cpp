#include "cli/SerialOptions.h"

#include "cli/CommandContext.h"
#include "core/PCom_SerialLine.h"
#include "host/Plugin_Com_Port.h"
#include "hostlib/PluginHost.h"

#include <QSerialPort>
#include <QTimer>

SerialOptions::SerialOptions(CommandContext &context)
    : m_options{
          {QStringLiteral("data-bits"), QStringLiteral("com: data bits per character."), QStringLiteral("5|6|7|8")},
          {QStringLiteral("parity"), QStringLiteral("com: parity."), QStringLiteral("none|even|odd|space|mark")},
          {QStringLiteral("stop-bits"), QStringLiteral("com: stop bits."), QStringLiteral("1|1.5|2")},
          {QStringLiteral("flow-control"), QStringLiteral("com: flow control."),
           QStringLiteral("none|rtscts|xonxoff")},
          {QStringLiteral("dtr"), QStringLiteral("com: the DTR line's level."), QStringLiteral("on|off")},
          {QStringLiteral("rts"), QStringLiteral("com: the RTS line's level (not with rtscts)."),
           QStringLiteral("on|off")},
          {QStringLiteral("break"), QStringLiteral("com: send a break of MS milliseconds once the line is open."),
           QStringLiteral("MS")},
      }
{
    for (const QCommandLineOption &option : qAsConst(m_options))
        context.addOption(option);
}

bool SerialOptions::check(const CommandContext &context)
{
    using Apply = std::function<bool(PCom_SerialLine *, QString *)>;
    const auto choose = [](int i, const QString &value) -> Apply {
        const bool on = value == QLatin1String("on");
        switch (i) {
        case 0:
            return [value](PCom_SerialLine *line, QString *why) { return line->setDataBits(value.toInt(), why); };
        case 1:
            return [value](PCom_SerialLine *line, QString *why) { return line->setParity(value, why); };
        case 2:
            return [value](PCom_SerialLine *line, QString *why) { return line->setStopBits(value, why); };
        case 3:
            return [value](PCom_SerialLine *line, QString *why) { return line->setFlowControl(value, why); };
        case 4:
            return [on](PCom_SerialLine *line, QString *why) { return line->setDataTerminalReady(on, why); };
        default:
            return [on](PCom_SerialLine *line, QString *why) { return line->setRequestToSend(on, why); };
        }
    };
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
        m_settings.append({choose(i, value), name + QLatin1Char(' ') + value});
    }
    // With hardware flow control the driver moves RTS itself.
    if (context.isSet(m_options.at(5)) && context.value(m_options.at(3)) == QLatin1String("rtscts")) {
        CommandContext::badInput(
            QStringLiteral("--rts cannot be set with --flow-control rtscts: the line drives RTS itself"));
        return false;
    }
    return true;
}

bool SerialOptions::apply(Plugin_Com_Port *port, const QString &label) const
{
    PCom_SerialLine *line = PluginHost::face<PCom_SerialLine>(port);
    if (!line)
        return m_settings.isEmpty() && m_breakMs <= 0;
    bool ok = true;
    for (const Setting &setting : m_settings) {
        QString why;
        if (setting.apply(line, &why))
            continue;
        CommandContext::say(QStringLiteral("error"),
                            QStringLiteral("the %1 line refused %2: %3").arg(label, setting.shown, why));
        ok = false;
    }
    return ok && (m_breakMs <= 0 || sendBreak(port, m_breakMs));
}

bool SerialOptions::sendBreak(Plugin_Com_Port *port, int milliseconds)
{
    PCom_SerialLine *line = PluginHost::face<PCom_SerialLine>(port);
    if (!line) {
        CommandContext::say(QStringLiteral("error"), QStringLiteral("a break goes on serial lines only"));
        return false;
    }
    QString why;
    if (line->sendBreak(milliseconds, &why))
        return true;
    CommandContext::say(QStringLiteral("error"), QStringLiteral("the break was not sent: %1").arg(why));
    return false;
}

QString SerialOptions::lineCommand(Plugin_Com_Port *port, char key, bool *refused, int pulseMs)
{
    PCom_SerialLine *line = PluginHost::face<PCom_SerialLine>(port);
    *refused = !line;
    if (!line)
        return QStringLiteral("a %1 port has no serial line").arg(port->typeKey());
    const auto onOff = [](bool on) { return on ? QStringLiteral("on") : QStringLiteral("off"); };
    if (key == 'l')
        return QStringLiteral("line: %1 baud, %2 data bits, parity %3, %4 stop bits, flow control %5, DTR %6, RTS %7")
            .arg(line->baudRate())
            .arg(line->dataBits())
            .arg(line->parity(), line->stopBits(), line->flowControl(), onOff(line->isDataTerminalReady()),
                 onOff(line->isRequestToSend()));
    if (key == 'm') {
        const int lines = line->modemLines();
        if (lines < 0)
            return QStringLiteral("modem lines: none to read on this line");
        static const struct {
            int signal;
            const char *name;
        } names[] = {{QSerialPort::ClearToSendSignal, "CTS"},
                     {QSerialPort::DataSetReadySignal, "DSR"},
                     {QSerialPort::DataCarrierDetectSignal, "DCD"},
                     {QSerialPort::RingIndicatorSignal, "RI"}};
        QStringList shown;
        for (const auto &name : names)
            shown.append(QStringLiteral("%1 %2").arg(QLatin1String(name.name), onOff(lines & name.signal)));
        return QStringLiteral("modem lines: ") + shown.join(QStringLiteral(", "));
    }
    const bool dtr = key == 'd' || key == 'D';
    const QString name = dtr ? QStringLiteral("DTR") : QStringLiteral("RTS");
    const bool was = dtr ? line->isDataTerminalReady() : line->isRequestToSend();
    const auto set = [line, dtr](bool on, QString *why) {
        return dtr ? line->setDataTerminalReady(on, why) : line->setRequestToSend(on, why);
    };
    QString why;
    *refused = !set(!was, &why);
    if (*refused)
        return QStringLiteral("%1 not switched %2: %3").arg(name, onOff(!was), why);
    if (key == 'd' || key == 'r')
        return QStringLiteral("%1 %2").arg(name, onOff(!was));
    // The line object lives as long as the port; the pulse ends on its clock.
    QTimer::singleShot(pulseMs, line, [set, was]() { set(was, nullptr); });
    return QStringLiteral("%1 pulsed %2 for %3 ms").arg(name, onOff(!was)).arg(pulseMs);
}

bool SerialOptions::fits(Plugin_Com_Port *port)
{
    return PluginHost::face<PCom_SerialLine>(port) != nullptr;
}
