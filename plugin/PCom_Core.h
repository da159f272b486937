#pragma once

#include "host/PluginInterface_Com.h"

#include <QObject>

// The plug-in's root object: names the plug-in and builds its devices.
// Devices belong to the caller from the moment they are created.
class PCom_Core : public QObject, public virtual PluginInterface_Com
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID PluginInterface_Com_Core_iid)
    Q_INTERFACES(PluginInterface_Com)
public:
    PCom_Core();
    ~PCom_Core() override;

    Plugin_Com_Device *createDevice(ComInterface *com, QString typeKey) override;
    void deleteDevice(Plugin_Com_Device *device) override;
    QString getPluginName() override;
    void createDevices(QList<Plugin_Com_Device *> &devices) override;

    static QString pluginName();
};
