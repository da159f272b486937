#pragma once

#include "host/Abstract_ComPlugin.h"
#include "host/Abstract_PluginInterface.h"
#include "host/host_export.h"

#include <QtPlugin>

#define PluginInterface_Com_Prefix "org.tavlin.host"
#define PluginInterface_Com_iid PluginInterface_Com_Prefix ".PluginInterface_Com.Interface"
// The identifier that a communication plug-in puts in its metadata.
#define PluginInterface_Com_Core_iid PluginInterface_Com_Prefix ".PluginInterface_Com.Core"

// The interface through which the host talks to a communication plug-in's
// root object.
class HOST_EXPORT PluginInterface_Com : public virtual Abstract_PluginInterface,
                                        public virtual Abstract_ComPlugin
{
public:
    ~PluginInterface_Com() override = default;
};

Q_DECLARE_INTERFACE(PluginInterface_Com, PluginInterface_Com_iid)
