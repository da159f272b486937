#pragma once

#include <QHash>
#include <QList>
#include <QString>
#include <QVariant>

class PCom_Core;
class Plugin_Com_Device;
class Plugin_Com_Port;

// The plug-in as a host holds it: the root object, one device per type key,
// and the ports made from them. Every port is created, configured and
// released through the host interface only.
class PluginPorts
{
public:
    PluginPorts();
    ~PluginPorts();

    // The device of that kind, or null when this build does not have it.
    Plugin_Com_Device *device(const QString &typeKey);
    // A new port whose properties are written in the order given; null when
    // the kind is missing.
    Plugin_Com_Port *create(const QString &typeKey, const QList<QPair<QString, QVariant>> &properties = {});
    // Closes and deletes a port through its device.
    void release(Plugin_Com_Port *&port);

private:
    PCom_Core *m_core;
    QHash<QString, Plugin_Com_Device *> m_devices;
};
