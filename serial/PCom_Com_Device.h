#pragma once

#include "core/PCom_Device.h"

// The serial (COM) port device: lists the machine's serial ports and makes
// serial ports.
class PCom_Com_Device : public PCom_Device
{
public:
    PCom_Com_Device(PluginInterface_Com *plugin, ComInterface *com);

    QStringList availablePorts() override;
    Plugin_Com_Port *createPort() override;
};
