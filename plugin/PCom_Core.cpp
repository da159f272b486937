#include "plugin/PCom_Core.h"

#include "canbus/PCom_CanBus_Device.h"
#include "serial/PCom_Com_Device.h"
#include "tcpserver/PCom_TcpServer_Device.h"
#include "tcpclient/PCom_TcpClient_Device.h"
#include "udpclient/PCom_UdpClient_Device.h"
#include "core/PCom_Names.h"
#include "core/PCom_Port.h"

PCom_Core::PCom_Core() = default;

PCom_Core::~PCom_Core() = default;

QString PCom_Core::pluginName()
{
    return PCom_Names::pluginName();
}

QString PCom_Core::getPluginName()
{
    return pluginName();
}

Plugin_Com_Device *PCom_Core::createDevice(ComInterface *com, QString typeKey)
{
    PluginInterface_Com *self = this;
    if (typeKey == PCom_Names::com())
        return new PCom_Com_Device(self, com);
    if (typeKey == PCom_Names::canBus())
        return new PCom_CanBus_Device(self, com);
    if (typeKey == PCom_Names::tcpServer())
        return new PCom_TcpServer_Device(self, com);
    if (typeKey == PCom_Names::tcpClient())
        return new PCom_TcpClient_Device(self, com);
    if (typeKey == PCom_Names::udpClient())
        return new PCom_UdpClient_Device(self, com);
    // The host's oldest projects name no type; they meant a serial port.
    if (typeKey.isEmpty())
        return new PCom_Com_Device(self, com);
    return nullptr;
}

void PCom_Core::createDevices(QList<Plugin_Com_Device *> &devices)
{
    PluginInterface_Com *self = this;
    devices.append(new PCom_Com_Device(self, nullptr));
    devices.append(new PCom_CanBus_Device(self, nullptr));
    devices.append(new PCom_TcpServer_Device(self, nullptr));
    devices.append(new PCom_TcpClient_Device(self, nullptr));
    devices.append(new PCom_UdpClient_Device(self, nullptr));
}

void PCom_Core::deleteDevice(Plugin_Com_Device *device)
{
    delete device;
}

// The one way in to the companion of a port (see core/PCom_LinkStatus.h),
// resolved by hosts of ours next to the plug-in.
extern "C" Q_DECL_EXPORT PCom_LinkStatus *pcom_linkStatus(Plugin_Com_Port *port)
{
    const auto *own = dynamic_cast<const PCom_Port *>(port);
    return own ? own->linkStatus() : nullptr;
}
