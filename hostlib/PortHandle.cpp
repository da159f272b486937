#include "hostlib/PortHandle.h"

#include "core/PCom_LinkStatus.h"
#include "host/PluginInterface_Com.h"
#include "host/Plugin_Com_Device.h"
#include "host/Plugin_Com_Port.h"
#include "hostlib/PluginHost.h"
#include "hostlib/PropertyAssigner.h"

std::unique_ptr<PortHandle> PortHandle::create(PluginHost &host, const QString &typeKey, QString *error)
{
    const QString known = host.typeKeys().join(QStringLiteral(", "));
    if (typeKey.isEmpty()) {
        *error = QStringLiteral("no port type given; types: %1").arg(known);
        return nullptr;
    }
    Plugin_Com_Device *device = host.plugin() ? host.plugin()->createDevice(nullptr, typeKey) : nullptr;
    Plugin_Com_Port *port = device ? device->createPort() : nullptr;
    if (!port) {
        if (device)
            host.plugin()->deleteDevice(device);
        *error = QStringLiteral("unknown port type '%1'; types: %2").arg(typeKey, known);
        return nullptr;
    }
    return std::unique_ptr<PortHandle>(new PortHandle(host, device, port, typeKey));
}

PortHandle::PortHandle(PluginHost &host, Plugin_Com_Device *device, Plugin_Com_Port *port, const QString &typeKey)
    : m_host(host), m_device(device), m_port(port), m_typeKey(typeKey)
{
}

PortHandle::~PortHandle()
{
    m_device->deletePort(m_port);
    m_host.plugin()->deleteDevice(m_device);
}

PCom_LinkStatus *PortHandle::linkStatus() const
{
    return PluginHost::linkStatus(m_port);
}

bool PortHandle::configure(const QStringList &settings, QString *error)
{
    QList<PropertyAssigner::Assignment> assignments;
    for (const QString &setting : settings)
        assignments.append(PropertyAssigner::parse(setting));
    PropertyAssigner::writeDefaults(m_port, assignments);
    return PropertyAssigner::assign(m_port, assignments, error, PropertyAssigner::Addresses::Resolved)
           && PropertyAssigner::hasRequired(m_port, assignments, error)
           && PropertyAssigner::addressesAgree(assignments, error);
}

bool PortHandle::open()
{
    return m_port->setTavlinProperty(QStringLiteral("connect"), true).toBool();
}
