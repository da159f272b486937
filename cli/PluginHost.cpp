#include "cli/PluginHost.h"

#include "host/PluginInterface_Com.h"
#include "host/Plugin_Com_Device.h"
#include "host/Plugin_Com_Port.h"

#include <QFileInfo>
#include <QPluginLoader>

PluginHost::PluginHost() = default;

PluginHost::~PluginHost()
{
    // Devices and ports are gone by now; the library itself stays mapped so
    // that nothing of it runs after an unload.
    delete m_loader;
}

bool PluginHost::load(const QString &file, const QStringList &candidates, QString *error)
{
    if (!file.isEmpty())
        return loadFile(file, error);
    for (const QString &candidate : candidates) {
        if (QFileInfo(candidate).isFile())
            return loadFile(candidate, error);
    }
    *error = QStringLiteral("no plug-in file found (looked for %1); name one with --plugin FILE")
                 .arg(candidates.join(QStringLiteral(", ")));
    return false;
}

bool PluginHost::loadFile(const QString &file, QString *error)
{
    m_loader = new QPluginLoader(file);
    if (!m_loader->load()) {
        *error = QStringLiteral("cannot load the plug-in %1: %2").arg(file, m_loader->errorString());
        return false;
    }
    m_plugin = qobject_cast<PluginInterface_Com *>(m_loader->instance());
    if (!m_plugin) {
        *error = QStringLiteral("%1 is no communication plug-in of this host").arg(file);
        return false;
    }
    m_fileName = QFileInfo(file).absoluteFilePath();
    return true;
}

QStringList PluginHost::typeKeys() const
{
    QStringList keys;
    if (!m_plugin)
        return keys;
    QList<Plugin_Com_Device *> devices;
    m_plugin->createDevices(devices);
    for (Plugin_Com_Device *device : devices) {
        Plugin_Com_Port *port = device->createPort();
        if (port) {
            keys.append(port->typeKey());
            device->deletePort(port);
        }
        m_plugin->deleteDevice(device);
    }
    return keys;
}
