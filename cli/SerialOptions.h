#pragma once

#include <QCommandLineOption>
#include <QList>
#include <QString>
#include <QVariant>

class CommandContext;
class QObject;

// The serial line options of pcom open and pcom bridge: data bits, parity,
// stop bits, flow control, the DTR and RTS levels and a break. They reach a
// com port through its Qt properties and sendBreak() once it is open, one
// by one, so that a setting the line refuses is named with the reason.
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

    // Applies the settings to an open com port, then sends the break; false,
    // with an error line for each setting that the line refused.
    bool apply(QObject *port, const QString &label) const;
    // A break of `milliseconds` on a serial line; false, with the reason
    // printed, where it cannot be sent.
    static bool sendBreak(QObject *port, int milliseconds);

private:
    struct Setting {
        const char *property;
        QVariant value;
        QString shown;
    };

    QList<QCommandLineOption> m_options;
    QList<Setting> m_settings;
    QString m_first;
    int m_breakMs = 0;
};
