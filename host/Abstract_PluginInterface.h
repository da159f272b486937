#pragma once

#include "host/host_export.h"

#include <QString>

// What every plug-in of the host answers.
class HOST_EXPORT Abstract_PluginInterface
{
public:
    virtual ~Abstract_PluginInterface() = default;
    virtual QString getPluginName() = 0;
};
