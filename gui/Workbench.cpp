#include "gui/Workbench.h"

#include "host/PluginInterface_Com.h"
#include "host/Plugin_Com_Device.h"
#include "host/Plugin_Com_Port.h"
#include "core/PCom_ServedClients.h"
#include "hostlib/PluginHost.h"
#include "hostlib/PropertyAssigner.h"

Workbench::Workbench(PluginInterface_Com *plugin, QObject *parent)
    : QObject(parent), m_plugin(plugin)
{
    m_plugin->createDevices(m_devices);
}

Workbench::~Workbench()
{
    removeAllPorts();
    for (Plugin_Com_Device *device : qAsConst(m_devices))
        m_plugin->deleteDevice(device);
}

Plugin_Com_Device *Workbench::device(const QString &typeKey) const
{
    for (Plugin_Com_Device *device : m_devices) {
        if (Workbench::typeKey(device) == typeKey)
            return device;
    }
    return nullptr;
}

Plugin_Com_Port *Workbench::addPort(Plugin_Com_Device *device)
{
    Plugin_Com_Port *port = device->createPort();
    if (!port)
        return nullptr;
    PropertyAssigner::writeDefaults(port, {});
    m_ports.append(port);
    emit portAdded(port);
    return port;
}

void Workbench::removePort(Plugin_Com_Port *port)
{
    if (!m_ports.removeOne(port))
        return;
    emit portRemoving(port);
    if (port->opened())
        port->close();
    port->device()->deletePort(port);
}

void Workbench::removeAllPorts()
{
    while (!m_ports.isEmpty())
        removePort(m_ports.last());
}

QString Workbench::portLabel(Plugin_Com_Port *port)
{
    const QVariant address = port->getTavlinProperty(QStringLiteral("address"));
    if (address.isValid()) {
        // A server opened on port 0 listens on the port that the system chose.
        const PCom_ServedClients *served = PluginHost::face<PCom_ServedClients>(port);
        const quint16 listening = served ? served->listeningPort() : 0;
        return QStringLiteral("%1:%2").arg(address.toString(), listening ? QString::number(listening)
                                                                         : port->getTavlinProperty(QStringLiteral("port")).toString());
    }
    // The framework's "interface.device" is no name a user knows ("COM.pts/2", "." for a new CAN port).
    const QString device = port->getTavlinProperty(QStringLiteral("device")).toString();
    const QString shown = device.isEmpty() ? tr("(no device)") : device;
    if (port->usesFrameIds())
        return QStringLiteral("%1 %2").arg(port->getTavlinProperty(QStringLiteral("interface")).toString(), shown).trimmed();
    return shown;
}

QString Workbench::typeKey(const Plugin_Com_Device *device)
{
    return device->getDocPath().section(QLatin1Char('/'), -1);
}
