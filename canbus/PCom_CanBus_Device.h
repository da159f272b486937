#pragma once

#include "core/PCom_Device.h"

#include <QString>

// The CAN bus device: holds the Qt CAN back-end that all of its ports use,
// lists that back-end's interfaces and makes CAN ports.
class PCom_CanBus_Device : public PCom_Device
{
public:
    PCom_CanBus_Device(PluginInterface_Com *plugin, ComInterface *com);
    ~PCom_CanBus_Device() override;

    QStringList availablePorts() override;
    Plugin_Com_Port *createPort() override;

    // Any name is taken as it is; a wrong one shows when the interfaces are
    // listed or a port opens.
    bool setCanPlugin(const QString &plugin);
    QString canPlugin() const { return m_canPlugin; }

private:
    QString m_canPlugin;
};
