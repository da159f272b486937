#include "tcpserver/PCom_TcpServer_Device.h"

#include "core/PCom_ChildPropertyDoc.h"
#include "core/PCom_Core.h"
#include "tcpserver/PCom_TcpServer_Port.h"

#include <QNetworkInterface>

PCom_TcpServer_Device::PCom_TcpServer_Device(PluginInterface_Com *plugin, ComInterface *com)
    : Plugin_Com_Device(plugin, com)
{
    m_name = QStringLiteral("Ethernet TCP server");
}

// Informational only: a server port listens on its "address", not on an
// interface, so interfaces that are down and loopback are listed too.
QStringList PCom_TcpServer_Device::availablePorts()
{
    QStringList names;
    const auto interfaces = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface &iface : interfaces)
        names.append(iface.humanReadableName());
    return names;
}

Plugin_Com_Port *PCom_TcpServer_Device::createPort()
{
    return new PCom_TcpServer_Port(this);
}

void PCom_TcpServer_Device::deletePort(Plugin_Com_Port *port)
{
    delete port;
}

QString PCom_TcpServer_Device::getDocPath() const
{
    return QStringLiteral(":/%1/%2").arg(PCom_Core::pluginName(), QStringLiteral("tcpServer"));
}

QString PCom_TcpServer_Device::getChildPropertyDoc(const Version &version)
{
    return pcomChildPropertyDoc<PCom_TcpServer_Port>(this, version);
}
