#include "serial/PCom_Com_Device.h"

#include "core/PCom_Names.h"
#include "serial/PCom_Com_Port.h"

#include <QSerialPortInfo>

PCom_Com_Device::PCom_Com_Device(PluginInterface_Com *plugin, ComInterface *com)
    : PCom_Device(plugin, com, QStringLiteral("COM port"), PCom_Names::com())
{
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
