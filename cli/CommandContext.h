#pragma once

#include "hostlib/LogReceiver.h"
#include "hostlib/PluginHost.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

class PortHandle;

// What every pcom command does before its own work: parse its command line
// (with --help, --help-all, --version, -q and --plugin), report bad input as
// one error line with exit status 2, set up the log on standard error and
// load the plug-in.
class CommandContext
{
public:
    // `description`: the command's --help text.
    explicit CommandContext(const QString &description);

    QCommandLineParser &parser() { return m_parser; }
    void addOption(const QCommandLineOption &option) { m_parser.addOption(option); }
    // An option whose value may be left out, which QCommandLineParser does
    // not know: --NAME alone means `fallback`, --NAME=VALUE gives a value,
    // and so does --NAME VALUE where `isValue` takes the next word (no type
    // key or NAME=VALUE setting is one). The help shows --NAME[=VALUE].
    void addOptionalValue(const QCommandLineOption &option, const QString &fallback,
                          std::function<bool(const QString &)> isValue);

    // Parses `arguments` (the program name, the command word, the rest). On
    // --help prints the help and exits 0 (--help-all is main's: every
    // command's help), on --version the version; false when the line is
    // wrong (the reason is printed).
    bool parse(const QStringList &arguments);
    // The command's --help text, its usage line naming pcom.
    QString helpText() const;
    // While `into` is set, --help adds the help text there and parse()
    // returns false instead of printing it and exiting (main's --help-all).
    static void collectHelp(QString *into) { s_help = into; }
    bool isSet(const QCommandLineOption &option) const { return m_parser.isSet(option); }
    QString value(const QCommandLineOption &option) const { return m_parser.value(option); }
    // The positional words after the command word.
    QStringList words() const { return m_parser.positionalArguments().mid(1); }

    // A number of seconds given with `option` (a default when it is not
    // set). False, with a bad-input line, when it is no number in
    // [minimum, 1e6], or when zero is not allowed and it is zero.
    bool seconds(const QCommandLineOption &option, double fallback, bool zeroAllowed, double *out) const;

    // Sets up the log (quiet with -q) and loads the plug-in; false, with the
    // reason printed, when it cannot be loaded.
    bool start();
    PluginHost &host() { return m_host; }
    LogReceiver &log() { return m_log; }

    // A new port of that type; null, with the reason printed, for an
    // unknown type.
    std::unique_ptr<PortHandle> createPort(const QString &typeKey);
    // Writes the defaults and the NAME=VALUE settings; false, with the
    // reason printed, at the first bad one.
    static bool configure(PortHandle &handle, const QStringList &settings);

    // Opens the port; false, with the reason of the Qt object underneath
    // where the port tells it, when it did not open.
    static bool open(PortHandle &handle, const QString &label);

    // Prints "error: message"; returns the bad-input exit status.
    static int badInput(const QString &message);
    // While `into` is set, the first bad-input reason goes there instead of
    // being printed (a command line checked inside a running process).
    static void captureBadInput(QString *into) { s_captured = into; }
    // A line of pcom's own of that kind ("progress: pcom: ...").
    static void say(const QString &kind, const QString &text);

    static QCommandLineOption hostVersionOption();

private:
    struct OptionalValue {
        QString name;
        QString valueName;
        QString fallback;
        std::function<bool(const QString &)> isValue;
    };
    QStringList withOptionalValues(const QStringList &arguments) const;

    QCommandLineParser m_parser;
    QCommandLineOption m_quiet;
    QCommandLineOption m_plugin;
    LogReceiver m_log;
    PluginHost m_host;
    QList<OptionalValue> m_optional;
    static QString *s_captured;
    static QString *s_help;
};
