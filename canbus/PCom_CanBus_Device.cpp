#include "canbus/PCom_CanBus_Device.h"

#include "canbus/PCom_CanBus_Port.h"
#include "core/PCom_ChildPropertyDoc.h"
#include "core/PCom_Core.h"

#include <QCanBus>
#include <QCanBusDeviceInfo>

PCom_CanBus_Device::PCom_CanBus_Device(PluginInterface_Com *plugin, ComInterface *com)
    : Plugin_Com_Device(plugin, com)
{
    m_name = QStringLiteral("CAN bus");
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

void PCom_CanBus_Device::deletePort(Plugin_Com_Port *port)
{
    delete port;
}

QString PCom_CanBus_Device::getDocPath() const
{
    return QStringLiteral(":/%1/%2").arg(PCom_Core::pluginName(), QStringLiteral("canBus"));
}

QString PCom_CanBus_Device::getChildPropertyDoc(const Version &version)
{
    return pcomChildPropertyDoc<PCom_CanBus_Port>(this, version);
}

bool PCom_CanBus_Device::setCanPlugin(const QString &plugin)
{
    m_canPlugin = plugin;
    return true;
}
