#pragma once

#include <QList>
#include <QObject>
#include <QString>

class PluginInterface_Com;
class Plugin_Com_Device;
class Plugin_Com_Port;

// The plug-in's devices and the ports that the user made on them. Ports are
// created and handed back through their device, as the host framework asks;
// a port is closed before it goes.
class Workbench : public QObject
{
    Q_OBJECT
public:
    explicit Workbench(PluginInterface_Com *plugin, QObject *parent = nullptr);
    ~Workbench() override;

    QList<Plugin_Com_Device *> devices() const { return m_devices; }
    QList<Plugin_Com_Port *> ports() const { return m_ports; }
    // Null when the plug-in has no device of that type key.
    Plugin_Com_Device *device(const QString &typeKey) const;

    // A new port with the records' default texts written, as the host does.
    Plugin_Com_Port *addPort(Plugin_Com_Device *device);
    void removePort(Plugin_Com_Port *port);
    void removeAllPorts();

    // The device's type key, the last part of its resource directory.
    static QString typeKey(const Plugin_Com_Device *device);
    // What the tree shows for a port: "address:port" for network ports (the
    // port listened on for a server), the device for a serial port, the
    // back-end and interface for a CAN port.
    static QString portLabel(Plugin_Com_Port *port);

signals:
    void portAdded(Plugin_Com_Port *port);
    // Emitted before the port is closed and deleted.
    void portRemoving(Plugin_Com_Port *port);

private:
    PluginInterface_Com *m_plugin;
    QList<Plugin_Com_Device *> m_devices;
    QList<Plugin_Com_Port *> m_ports;
};
