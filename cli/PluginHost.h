#pragma once

#include <QString>
#include <QStringList>

class PluginInterface_Com;
class QPluginLoader;

// Loads the plug-in file with QPluginLoader, as the host does, and hands out
// its root object through the host's plug-in interface. The library stays
// loaded until the process ends.
class PluginHost
{
public:
    PluginHost();
    ~PluginHost();
    PluginHost(const PluginHost &) = delete;
    PluginHost &operator=(const PluginHost &) = delete;

    // Loads `file` when it is not empty, otherwise the first candidate that
    // exists. False with the reason in *error.
    bool load(const QString &file, const QStringList &candidates, QString *error);

    PluginInterface_Com *plugin() const { return m_plugin; }
    QString fileName() const { return m_fileName; }

    // The type keys of the plug-in's devices, in the order it creates them.
    QStringList typeKeys() const;

private:
    bool loadFile(const QString &file, QString *error);

    QPluginLoader *m_loader = nullptr;
    PluginInterface_Com *m_plugin = nullptr;
    QString m_fileName;
};
