#pragma once

#include "core/PCom_Device.h"

// The Ethernet TCP client device: lists the machine's network interfaces and makes
// TCP client ports.
class PCom_TcpClient_Device : public PCom_Device
{
public:
    PCom_TcpClient_Device(PluginInterface_Com *plugin, ComInterface *com);

    QStringList availablePorts() override;
    Plugin_Com_Port *createPort() override;
};
