#pragma once

#include "host/AbstractTreeItem.h"
#include "host/KrLog_Interface.h"
#include "host/host_export.h"

#include <QStringList>

class ComInterface;
class PluginInterface_Com;
class Plugin_Com_Port;
class Version;

// A kind of communication device that a plug-in offers: it lists what it can
// connect to and creates the ports through which the host uses it.
class HOST_EXPORT Plugin_Com_Device : public AbstractTreeItem
{
    Q_OBJECT
public:
    Plugin_Com_Device(PluginInterface_Com *plugin, ComInterface *com);
    ~Plugin_Com_Device() override;

    // The host's device log. Without an installed receiver the lines go to
    // Qt's message log.
    static void log(KrLog_Interface::Type type, const QString &text);
    static void setLogInterface(KrLog_Interface *receiver);
    static KrLog_Interface *logInterface();

    QString name() const { return m_name; }
    PluginInterface_Com *plugin() const { return m_plugin; }
    ComInterface *comInterface() const { return m_com; }

    virtual QStringList availablePorts() = 0;
    // The caller owns the new port and hands it back to deletePort().
    virtual Plugin_Com_Port *createPort() = 0;
    virtual void deletePort(Plugin_Com_Port *port) = 0;
    // Resource directory holding help/main.html, help/brief.html and
    // images/toolIcon.png.
    virtual QString getDocPath() const = 0;
    virtual QString getChildPropertyDoc(const Version &version) = 0;

    QString getIconPath() const;
    QString getDocBriefPath() const;
    QString getDocMainPath() const;

protected:
    QString m_name;

private:
    PluginInterface_Com *m_plugin;
    ComInterface *m_com;
};
