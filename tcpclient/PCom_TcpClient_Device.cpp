#include "tcpclient/PCom_TcpClient_Device.h"

#include "core/PCom_ChildPropertyDoc.h"
#include "core/PCom_Core.h"
#include "tcpclient/PCom_TcpClient_Port.h"

#include <QNetworkInterface>

PCom_TcpClient_Device::PCom_TcpClient_Device(PluginInterface_Com *plugin, ComInterface *com)
    : Plugin_Com_Device(plugin, com)
{
    m_name = QStringLiteral("Ethernet TCP client");
}

// Informs the host only: a port connects to whatever its address routes to.
QStringList PCom_TcpClient_Device::availablePorts()
{
    QStringList names;
    const auto interfaces = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface &interface : interfaces)
        names.append(interface.humanReadableName());
    return names;
}

Plugin_Com_Port *PCom_TcpClient_Device::createPort()
{
    return new PCom_TcpClient_Port(this);
}

void PCom_TcpClient_Device::deletePort(Plugin_Com_Port *port)
{
    delete port;
}

QString PCom_TcpClient_Device::getDocPath() const
{
    return QStringLiteral(":/%1/%2").arg(PCom_Core::pluginName(), QStringLiteral("tcpClient"));
}

QString PCom_TcpClient_Device::getChildPropertyDoc(const Version &version)
{
    return pcomChildPropertyDoc<PCom_TcpClient_Port>(this, version);
}
