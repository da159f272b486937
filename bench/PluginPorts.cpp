#include "bench/PluginPorts.h"

#include "plugin/PCom_Core.h"
#include "host/Plugin_Com_Device.h"
#include "host/Plugin_Com_Port.h"

#include <QCoreApplication>
#include <QVariant>

PluginPorts::PluginPorts() : m_core(new PCom_Core)
{
}

PluginPorts::~PluginPorts()
{
    for (Plugin_Com_Device *device : qAsConst(m_devices)) {
        if (device)
            m_core->deleteDevice(device);
    }
    delete m_core;
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

Plugin_Com_Device *PluginPorts::device(const QString &typeKey)
{
    auto it = m_devices.find(typeKey);
    if (it == m_devices.end())
        it = m_devices.insert(typeKey, m_core->createDevice(nullptr, typeKey));
    return it.value();
}

Plugin_Com_Port *PluginPorts::create(const QString &typeKey, const QList<QPair<QString, QVariant>> &properties)
{
    Plugin_Com_Device *dev = device(typeKey);
    if (!dev)
        return nullptr;
    Plugin_Com_Port *port = dev->createPort();
    for (const auto &property : properties)
        port->setTavlinProperty(property.first, property.second);
    return port;
}

void PluginPorts::release(Plugin_Com_Port *&port)
{
    if (!port)
        return;
    if (port->opened())
        port->close();
    port->device()->deletePort(port);
    port = nullptr;
    // Sockets of a port are deleted later; the next measurement starts clean.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}
