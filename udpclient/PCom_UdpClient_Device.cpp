#include "udpclient/PCom_UdpClient_Device.h"

#include "core/PCom_Names.h"
#include "network/PCom_NetworkInterfaces.h"
#include "udpclient/PCom_UdpClient_Port.h"

PCom_UdpClient_Device::PCom_UdpClient_Device(PluginInterface_Com *plugin, ComInterface *com)
    : PCom_Device(plugin, com, QStringLiteral("Ethernet UDP client"), PCom_Names::udpClient())
{
}

QStringList PCom_UdpClient_Device::availablePorts()
{
    return pcomNetworkInterfaceNames();
}

Plugin_Com_Port *PCom_UdpClient_Device::createPort()
{
    return new PCom_UdpClient_Port(this);
}
