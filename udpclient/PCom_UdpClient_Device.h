#pragma once

#include "core/PCom_Device.h"

// The Ethernet UDP client device: lists the machine's network interfaces and makes
// UDP client ports.
class PCom_UdpClient_Device : public PCom_Device
{
public:
    PCom_UdpClient_Device(PluginInterface_Com *plugin, ComInterface *com);

    QStringList availablePorts() override;
    Plugin_Com_Port *createPort() override;
};
