#pragma once

#include "host/host_export.h"

#include <QString>

// Receiver of the host's device log. The host installs one through
// Plugin_Com_Device::setLogInterface().
class HOST_EXPORT KrLog_Interface
{
public:
    enum Type {
        Error = 0,
        Warning = 1,
        Progress = 2,
        Info = 3,
        Trace = 4,
    };

    virtual ~KrLog_Interface() = default;
    virtual void log(Type type, const QString &text) = 0;

    static QString typeName(Type type);
};
