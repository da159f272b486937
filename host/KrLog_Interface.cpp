#include "host/KrLog_Interface.h"

QString KrLog_Interface::typeName(Type type)
{
    switch (type) {
    case Error:
        return QStringLiteral("error");
    case Warning:
        return QStringLiteral("warning");
    case Progress:
        return QStringLiteral("progress");
    case Info:
        return QStringLiteral("info");
    case Trace:
        return QStringLiteral("trace");
    }
    return QStringLiteral("log%1").arg(int(type));
}
