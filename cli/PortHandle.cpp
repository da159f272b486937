#include "cli/PortHandle.h"

#include "host/PluginInterface_Com.h"
#include "host/Plugin_Com_Device.h"
#include "host/Plugin_Com_Port.h"

std::unique_ptr<PortHandle> PortHandle::create(PluginInterface_Com *plugin, const QString &typeKey)
{
    Plugin_Com_Device *device = plugin->createDevice(nullptr, typeKey);
    if (!device)
        return nullptr;
    Plugin_Com_Port *port = device->createPort();
    if (!port) {
        plugin->deleteDevice(device);
        return nullptr;
    }
    return std::unique_ptr<PortHandle>(new PortHandle(plugin, device, port, typeKey));
}

PortHandle::PortHandle(PluginInterface_Com *plugin, Plugin_Com_Device *device, Plugin_Com_Port *port,
                       const QString &typeKey)
    : m_plugin(plugin), m_device(device), m_port(port), m_typeKey(typeKey)
{
}

PortHandle::~PortHandle()
{
    m_device->deletePort(m_port);
    m_plugin->deleteDevice(m_device);
}
