#include "tcpclient/PCom_TcpClient_Device.h"

#include "core/PCom_Names.h"
#include "network/PCom_NetworkInterfaces.h"
#include "tcpclient/PCom_TcpClient_Port.h"

PCom_TcpClient_Device::PCom_TcpClient_Device(PluginInterface_Com *plugin, ComInterface *com)
    : PCom_Device(plugin, com, QStringLiteral("Ethernet TCP client"), PCom_Names::tcpClient())
{
}

QStringList PCom_TcpClient_Device::availablePorts()
{
    return pcomNetworkInterfaceNames();
}

Plugin_Com_Port *PCom_TcpClient_Device::createPort()
{
    return new PCom_TcpClient_Port(this);
}
