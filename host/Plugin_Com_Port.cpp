#include "host/Plugin_Com_Port.h"

Plugin_Com_Port::Plugin_Com_Port(Plugin_Com_Device *device, const QString &typeKey)
    : m_device(device), m_typeKey(typeKey)
{
}

Plugin_Com_Port::~Plugin_Com_Port() = default;

int Plugin_Com_Port::writeRawData(const char *, int, unsigned int)
{
    return -1;
}

int Plugin_Com_Port::writeByteStream(const char *, int, unsigned int)
{
    return -1;
}

int Plugin_Com_Port::readRawData(char *, int, unsigned int *)
{
    return -1;
}

int Plugin_Com_Port::readByteStream(char *, int, unsigned int *)
{
    return -1;
}

bool Plugin_Com_Port::supportsHandler(const QString &)
{
    return false;
}

QString Plugin_Com_Port::defaultText() const
{
    return QStringLiteral("%1.%2").arg(getTavlinProperty(QStringLiteral("interface")).toString(),
                                       getTavlinProperty(QStringLiteral("device")).toString());
}
