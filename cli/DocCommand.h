#pragma once

#include <QStringList>

class Plugin_Com_Port;
class Version;

// pcom doc TYPE [--host-version V] [-o FILE]: the help page that the host
// shows for a device, rendered into one self-contained HTML page.
class DocCommand
{
public:
    // `arguments`: the program name, the command word, the rest.
    static int run(const QStringList &arguments);

    // The newest host version that the port's property records name; the
    // page is rendered for it when --host-version is not given.
    static Version newestNamedVersion(const Plugin_Com_Port *port);

    // Command lines that use a port of that type, each with what it does,
    // as the section that pcom adds to the page.
    static QString examples(const QString &typeKey);
};
