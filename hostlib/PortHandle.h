#pragma once

#include <QString>
#include <QStringList>

#include <memory>

class PCom_LinkStatus;
class PluginHost;
class Plugin_Com_Device;
class Plugin_Com_Port;

// One device of the plug-in and one port of it, handed back to the plug-in
// (port first) when the handle goes. Creates the port of a type key, writes
// its settings as the host's property editor would, and opens it.
class PortHandle
{
public:
    // Null, with a one-line reason naming the known types, for an unknown
    // or empty type key.
    static std::unique_ptr<PortHandle> create(PluginHost &host, const QString &typeKey, QString *error);
    ~PortHandle();
    PortHandle(const PortHandle &) = delete;
    PortHandle &operator=(const PortHandle &) = delete;

    Plugin_Com_Device *device() const { return m_device; }
    Plugin_Com_Port *port() const { return m_port; }
    QString typeKey() const { return m_typeKey; }
    // The port's companion; null for a port that is not the plug-in's.
    PCom_LinkStatus *linkStatus() const;

    // Writes the default text of every writable record that `settings` does
    // not name, then the "NAME=VALUE" settings in order (see
    // PropertyAssigner; addresses may be host names, resolved here, or IPv6
    // literals), and checks that a client names its peer. Nothing is opened.
    // False, with a one-line reason, at the first bad setting.
    bool configure(const QStringList &settings, QString *error);

    // Writes "connect" = true; false when it reads back false.
    bool open();

private:
    PortHandle(PluginHost &host, Plugin_Com_Device *device, Plugin_Com_Port *port, const QString &typeKey);

    PluginHost &m_host;
    Plugin_Com_Device *m_device;
    Plugin_Com_Port *m_port;
    QString m_typeKey;
};
