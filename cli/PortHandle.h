#pragma once

#include <QString>

#include <memory>

class PluginInterface_Com;
class Plugin_Com_Device;
class Plugin_Com_Port;

// One device of the plug-in and one port of it, handed back to the plug-in
// (port first) when the handle goes.
class PortHandle
{
public:
    // Null when the plug-in knows no device for the type key.
    static std::unique_ptr<PortHandle> create(PluginInterface_Com *plugin, const QString &typeKey);
    ~PortHandle();
    PortHandle(const PortHandle &) = delete;
    PortHandle &operator=(const PortHandle &) = delete;

    Plugin_Com_Device *device() const { return m_device; }
    Plugin_Com_Port *port() const { return m_port; }
    QString typeKey() const { return m_typeKey; }

private:
    PortHandle(PluginInterface_Com *plugin, Plugin_Com_Device *device, Plugin_Com_Port *port,
               const QString &typeKey);

    PluginInterface_Com *m_plugin;
    Plugin_Com_Device *m_device;
    Plugin_Com_Port *m_port;
    QString m_typeKey;
};
