#pragma once

#include "core/PCom_Device.h"

// The Ethernet TCP server device: lists the machine's network interfaces and makes
// TCP server ports.
class PCom_TcpServer_Device : public PCom_Device
{
public:
    PCom_TcpServer_Device(PluginInterface_Com *plugin, ComInterface *com);

    QStringList availablePorts() override;
    Plugin_Com_Port *createPort() override;
};
