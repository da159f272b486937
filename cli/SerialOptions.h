#pragma once

#include <QCommandLineOption>
#include <QList>
#include <QString>

#include <functional>

class CommandContext;
class PCom_SerialLine;
class Plugin_Com_Port;

// The serial line options of pcom open and pcom bridge: data bits, parity,
// stop bits, flow control, the DTR and RTS levels and a break. They reach a
// port's serial line face once it is open, one by one, so that a setting the
// line refuses is named with the reason.
class SerialOptions
{
public:
    // Adds the options to the command's parser.
    explicit SerialOptions(CommandContext &context);

    // After parsing: false, with a bad-input line, for a value out of range.
    bool check(const CommandContext &context);
    bool isSet() const { return !m_settings.isEmpty() || m_breakMs > 0; }
    // The first option given, for messages ("--parity").
    QString firstName() const { return m_first; }

    // Applies the settings to an open port's serial line, then sends the
    // break; false, with an error line for each setting that the line
    // refused. A port without a serial line takes no settings.
    bool apply(Plugin_Com_Port *port, const QString &label) const;
    // A break of `milliseconds` on a serial line; false, with the reason
    // printed, where it cannot be sent.
    static bool sendBreak(Plugin_Com_Port *port, int milliseconds);
    // A terminal command on the port's serial line (Terminal::lineCommand():
    // d, r switch DTR, RTS; D, R pulse them for `pulseMs`; m shows the modem
    // lines, l the line settings): the line to show, with *refused set
    // where the line refused or the port has none.
    static QString lineCommand(Plugin_Com_Port *port, char key, bool *refused, int pulseMs = 100);
    // Whether the port has a serial line to take the settings.
    static bool fits(Plugin_Com_Port *port);

private:
    struct Setting {
        std::function<bool(PCom_SerialLine *, QString *)> apply;
        QString shown;
    };

    QList<QCommandLineOption> m_options;
    QList<Setting> m_settings;
    QString m_first;
    int m_breakMs = 0;
};
