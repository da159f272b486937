#include "udpclient/PCom_UdpClient_Device.h"

#include "core/PCom_ChildPropertyDoc.h"
#include "core/PCom_Core.h"
#include "udpclient/PCom_UdpClient_Port.h"

#include <QNetworkInterface>

PCom_UdpClient_Device::PCom_UdpClient_Device(PluginInterface_Com *plugin, ComInterface *com)
    : Plugin_Com_Device(plugin, com)
{
    m_name = QStringLiteral("Ethernet UDP client");
}

// Informs the host only: a port binds to its "bind-address", not to an
// interface from this list.
QStringList PCom_UdpClient_Device::availablePorts()
{
    QStringList names;
    const auto interfaces = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface &interface : interfaces)
        names.append(interface.humanReadableName());
    return names;
}

Plugin_Com_Port *PCom_UdpClient_Device::createPort()
{
    return new PCom_UdpClient_Port(this);
}

void PCom_UdpClient_Device::deletePort(Plugin_Com_Port *port)
{
    delete port;
}

QString PCom_UdpClient_Device::getDocPath() const
{
    return QStringLiteral(":/%1/%2").arg(PCom_Core::pluginName(), QStringLiteral("udpClient"));
}

QString PCom_UdpClient_Device::getChildPropertyDoc(const Version &version)
{
    return pcomChildPropertyDoc<PCom_UdpClient_Port>(this, version);
}
