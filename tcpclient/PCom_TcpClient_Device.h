#pragma once

#include "host/Plugin_Com_Device.h"

// The Ethernet TCP client device: lists the machine's network interfaces and
// makes TCP client ports.
class PCom_TcpClient_Device : public Plugin_Com_Device
{
public:
    PCom_TcpClient_Device(PluginInterface_Com *plugin, ComInterface *com);

    QStringList availablePorts() override;
    Plugin_Com_Port *createPort() override;
    void deletePort(Plugin_Com_Port *port) override;
    QString getDocPath() const override;
    QString getChildPropertyDoc(const Version &version) override;
};
