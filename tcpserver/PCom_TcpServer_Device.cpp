#include "tcpserver/PCom_TcpServer_Device.h"

#include "core/PCom_Names.h"
#include "network/PCom_NetworkInterfaces.h"
#include "tcpserver/PCom_TcpServer_Port.h"

PCom_TcpServer_Device::PCom_TcpServer_Device(PluginInterface_Com *plugin, ComInterface *com)
    : PCom_Device(plugin, com, QStringLiteral("Ethernet TCP server"), PCom_Names::tcpServer())
{
}

QStringList PCom_TcpServer_Device::availablePorts()
{
    return pcomNetworkInterfaceNames();
}

Plugin_Com_Port *PCom_TcpServer_Device::createPort()
{
    return new PCom_TcpServer_Port(this);
}
