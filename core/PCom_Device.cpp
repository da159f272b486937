#include "core/PCom_Device.h"

#include "core/PCom_Names.h"
#include "host/Plugin_Com_Port.h"

#include <memory>

PCom_Device::PCom_Device(PluginInterface_Com *plugin, ComInterface *com, const QString &name,
                         const QString &typeKey)
    : Plugin_Com_Device(plugin, com), m_typeKey(typeKey)
{
    m_name = name;
}

void PCom_Device::deletePort(Plugin_Com_Port *port)
{
    delete port;
}

QString PCom_Device::getDocPath() const
{
    return PCom_Names::resourceDir(m_typeKey);
}

// A port that is never opened: its records are what a new port shows.
QString PCom_Device::getChildPropertyDoc(const Version &version)
{
    const std::unique_ptr<Plugin_Com_Port> port(createPort());
    return port->getPropertyDoc(version, QStringLiteral("Port object"));
}
