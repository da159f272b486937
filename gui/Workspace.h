#pragma once

#include <QJsonObject>
#include <QString>
#include <QStringList>

#include <functional>

class Plugin_Com_Port;
class Workbench;

// A workspace file: the ports, their property values, whether each was
// open and its terminal's settings (log file included), and the window's
// own (host version, panes), as JSON. Opening one replaces the ports; what
// cannot be restored (a device or property that is gone, a value refused,
// a link that does not open) is listed and the rest is restored. Host names
// and IPv6 addresses are taken, as pcom takes them.
class Workspace
{
public:
    using TerminalOf = std::function<QJsonObject(Plugin_Com_Port *)>;
    using ApplyTerminal = std::function<void(Plugin_Com_Port *, const QJsonObject &)>;

    static bool save(const Workbench &bench, const QString &fileName, const QJsonObject &window,
                     const TerminalOf &terminalOf, QString *error);
    // False, with a one-line reason and nothing changed, when the file is no
    // workspace; otherwise true, with what was left out in *problems. Each
    // port's terminal settings are applied before any port is opened.
    static bool open(Workbench &bench, const QString &fileName, QJsonObject *window, const ApplyTerminal &apply,
                     QString *error, QStringList *problems);
    // The name with ".json" added when it has no suffix, so that the open
    // dialog's filter shows it.
    static QString withSuffix(const QString &fileName);
};
