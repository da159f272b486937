#pragma once

#include <QNetworkInterface>
#include <QStringList>

// What the three network devices list: every interface of the machine by its
// readable name, down and loopback included. It informs the host only: a
// port listens, binds or connects by address, never by interface.
inline QStringList pcomNetworkInterfaceNames()
{
    QStringList names;
    const auto interfaces = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface &iface : interfaces)
        names.append(iface.humanReadableName());
    return names;
}
