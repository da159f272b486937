#pragma once

#include "core/PCom_LinkStatus.h"

#include <QList>
#include <QString>
#include <QStringList>

class PluginInterface_Com;
class Plugin_Com_Port;
class QPluginLoader;

// Loads the plug-in file with QPluginLoader, as the host does, and hands out
// its root object through the host's plug-in interface. The library stays
// loaded until the process ends.
class PluginHost
{
public:
    // What a device of the plug-in is and can connect to now.
    struct DeviceInfo {
        QString typeKey;
        QString name;
        // The device's brief as plain text on one line.
        QString brief;
        // What availablePorts() names now: serial lines, CAN interfaces, ...
        QStringList available;
        // The options of the port's "interface" record (CAN back-ends), if any.
        QStringList backEnds;
    };

    PluginHost();
    ~PluginHost();
    PluginHost(const PluginHost &) = delete;
    PluginHost &operator=(const PluginHost &) = delete;

    // Loads `file`, or when it is empty the first of defaultPluginFiles()
    // that exists. False with a one-line reason in *error.
    bool load(const QString &file, QString *error);

    PluginInterface_Com *plugin() const { return m_plugin; }
    QString fileName() const { return m_fileName; }

    // Every device of the plug-in, in the order it creates them.
    QList<DeviceInfo> devices() const;
    QStringList typeKeys() const;

    // Where the plug-in is looked for when no file is named: next to the
    // program, where it is installed relative to the program, in the build
    // tree, and at the install prefix.
    static QStringList defaultPluginFiles();

    // The text of an HTML fragment on one line: tags dropped, the common
    // entities decoded, white space folded.
    static QString plainText(const QString &html);

    // The companion of a port of the loaded plug-in, or null (no plug-in
    // loaded, or not its port). What a port can do beyond the framework is
    // the faces its companion has: face<PCom_CanFrames>(port) and so on.
    static PCom_LinkStatus *linkStatus(const Plugin_Com_Port *port);
    template <class Face>
    static Face *face(const Plugin_Com_Port *port)
    {
        PCom_LinkStatus *status = linkStatus(port);
        return status ? status->face<Face>() : nullptr;
    }
    // For a process that links the plug-in's code rather than loading it.
    static void setLinkStatusLookup(PCom_LinkStatusLookup lookup);

private:
    bool loadFile(const QString &file, QString *error);

    static PCom_LinkStatusLookup s_lookup;

    QPluginLoader *m_loader = nullptr;
    PluginInterface_Com *m_plugin = nullptr;
    QString m_fileName;
};
