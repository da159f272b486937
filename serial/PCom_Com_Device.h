#pragma once

#include "host/Plugin_Com_Device.h"

// The serial (COM) port device: lists the machine's serial ports and makes
// serial ports.
class PCom_Com_Device : public Plugin_Com_Device
{
public:
    PCom_Com_Device(PluginInterface_Com *plugin, ComInterface *com);

    QStringList availablePorts() override;
    Plugin_Com_Port *createPort() override;
    void deletePort(Plugin_Com_Port *port) override;
    QString getDocPath() const override;
    QString getChildPropertyDoc(const Version &version) override;
};
