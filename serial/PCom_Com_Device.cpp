#include "serial/PCom_Com_Device.h"

#include "core/PCom_ChildPropertyDoc.h"
#include "serial/PCom_Com_Port.h"
#include "core/PCom_Core.h"

#include <QSerialPortInfo>

PCom_Com_Device::PCom_Com_Device(PluginInterface_Com *plugin, ComInterface *com)
    : Plugin_Com_Device(plugin, com)
{
    m_name = QStringLiteral("COM port");
}

QStringList PCom_Com_Device::availablePorts()
{
    QStringList names;
    const auto ports = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo &info : ports)
        names.append(info.portName());
    return names;
}

Plugin_Com_Port *PCom_Com_Device::createPort()
{
    return new PCom_Com_Port(this);
}

void PCom_Com_Device::deletePort(Plugin_Com_Port *port)
{
    delete port;
}

QString PCom_Com_Device::getDocPath() const
{
    return QStringLiteral(":/%1/%2").arg(PCom_Core::pluginName(), QStringLiteral("com"));
}

QString PCom_Com_Device::getChildPropertyDoc(const Version &version)
{
    return pcomChildPropertyDoc<PCom_Com_Port>(this, version);
}
