#pragma once

#include "host/host_export.h"

#include <QList>
#include <QString>

class ComInterface;
class Plugin_Com_Device;

// The device factory of a communication plug-in.
class HOST_EXPORT Abstract_ComPlugin
{
public:
    virtual ~Abstract_ComPlugin() = default;
    virtual Plugin_Com_Device *createDevice(ComInterface *com, QString typeKey) = 0;
    virtual void deleteDevice(Plugin_Com_Device *device) = 0;
    virtual void createDevices(QList<Plugin_Com_Device *> &devices) = 0;
};
