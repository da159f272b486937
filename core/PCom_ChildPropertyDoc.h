#pragma once

#include "host/Version.h"

#include <QString>

// Documents the properties of a port kind by asking a throw-away port of
// that kind, built for the given device and never opened.
template <class Port, class Device>
QString pcomChildPropertyDoc(Device *device, const Version &version)
{
    Port port(device);
    return QString() + port.getPropertyDoc(version, QLatin1String("Port object"));
}
