#include "core/PCom_Port.h"

#include "core/PCom_Core.h"

PCom_Port::PCom_Port(Plugin_Com_Device *device, const QString &typeKey)
    : Plugin_Com_Port(device, typeKey),
      m_fixedNames{QStringLiteral("plugin"), QStringLiteral("connect")}
{
    m_pluginPort = true;
}

bool PCom_Port::open(QFlags<OpenModeFlag> mode)
{
    const bool result = openPrivate(mode);
    raiseDataChanged();
    return result;
}

void PCom_Port::close()
{
    closePrivate();
    raiseDataChanged();
}

bool PCom_Port::supportsHandler(const QString &kind)
{
    return kind == QLatin1String("dataMessageHandler");
}

QVariant PCom_Port::setTavlinProperty(QString name, QVariant value)
{
    if (getTavlinProperty(name) == value)
        return value;

    traceSet(name, value);
    if (name == QLatin1String("connect")) {
        if (value.toBool())
            openPrivate(ReadWrite);
        else
            closePrivate();
    } else {
        applyProperty(name, value);
    }
    raiseDataChanged();
    return getTavlinProperty(name);
}

int PCom_Port::writeRawData(const char *data, int len)
{
    return writeByteStream(data, len);
}

int PCom_Port::readRawData(char *buffer, int maxLen)
{
    return readByteStream(buffer, maxLen);
}

void PCom_Port::updatePropertiesState()
{
    const bool writable = !opened();
    for (TavlinProperty *property : tavlinProperties()) {
        if (!m_fixedNames.contains(property->name()))
            property->setWritable(writable);
    }
}

QString PCom_Port::pluginText() const
{
    return QStringLiteral("%1::%2").arg(PCom_Core::pluginName(), typeKey());
}

TavlinProperty *PCom_Port::declareProperty(const QString &name, TavlinProperty::InputType type,
                                           const QString &defaultText, bool validated)
{
    return appendProperty(new TavlinProperty(name, type, true, defaultText, validated, !validated));
}

void PCom_Port::traceSet(const QString &, const QVariant &)
{
}

qint64 PCom_Port::bytesNotAccepted(qint64 asked, qint64 taken)
{
    return taken < 0 ? asked : asked - taken;
}
