#pragma once

#include <QString>

// The names that every floor of the plug-in needs: the plug-in's own and the
// type key of each device kind. Deliberately includes nothing of ours.
namespace PCom_Names {

inline QString pluginName() { return QStringLiteral("PCom_Core"); }

inline QString com() { return QStringLiteral("com"); }
inline QString canBus() { return QStringLiteral("canBus"); }
inline QString tcpServer() { return QStringLiteral("tcpServer"); }
inline QString tcpClient() { return QStringLiteral("tcpClient"); }
inline QString udpClient() { return QStringLiteral("udpClient"); }

// ":/PCom_Core/<type key>", the resource directory of a device kind.
inline QString resourceDir(const QString &typeKey)
{
    return QStringLiteral(":/%1/%2").arg(pluginName(), typeKey);
}

}
