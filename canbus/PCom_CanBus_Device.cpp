#include "canbus/PCom_CanBus_Device.h"

#include "canbus/PCom_CanBus_Port.h"
#include "core/PCom_Names.h"

#include <QCanBus>
#include <QCanBusDeviceInfo>

PCom_CanBus_Device::PCom_CanBus_Device(PluginInterface_Com *plugin, ComInterface *com)
    : PCom_Device(plugin, com, QStringLiteral("CAN bus"), PCom_Names::canBus())
{
}

PCom_CanBus_Device::~PCom_CanBus_Device() = default;

QStringList PCom_CanBus_Device::availablePorts()
{
    QStringList names;
    if (m_canPlugin.isEmpty())
        return names;

    QString errorString;
    const QList<QCanBusDeviceInfo> interfaces = QCanBus::instance()->availableDevices(m_canPlugin, &errorString);
    if (!errorString.isEmpty())
        log(KrLog_Interface::Error, QStringLiteral("PCom_CanBus_Device: %1").arg(errorString));
    for (const QCanBusDeviceInfo &info : interfaces)
        names.append(info.name());
    return names;
}

Plugin_Com_Port *PCom_CanBus_Device::createPort()
{
    return new PCom_CanBus_Port(this);
}

bool PCom_CanBus_Device::setCanPlugin(const QString &plugin)
{
    m_canPlugin = plugin;
    return true;
}
