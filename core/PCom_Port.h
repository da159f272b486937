#pragma once

#include "host/Plugin_Com_Port.h"
#include "host/TavlinProperty.h"

#include <QStringList>

// The property model that every port of the plug-in follows: settings are
// named records, a write that changes a value is applied, announced and read
// back, and the configuration is locked while the link is open. A port
// supplies its records, how to apply a value and its link operations.
class PCom_Port : public Plugin_Com_Port
{
    Q_OBJECT
public:
    using Plugin_Com_Port::readByteStream;
    using Plugin_Com_Port::readRawData;
    using Plugin_Com_Port::writeByteStream;
    using Plugin_Com_Port::writeRawData;

    PCom_Port(Plugin_Com_Device *device, const QString &typeKey);

    bool open(QFlags<OpenModeFlag> mode) override;
    void close() override;
    bool supportsHandler(const QString &kind) override;
    QVariant setTavlinProperty(QString name, QVariant value) override;

    int writeRawData(const char *data, int len) override;
    int readRawData(char *buffer, int maxLen) override;

    virtual bool openPrivate(QFlags<OpenModeFlag> mode) = 0;
    virtual void closePrivate() = 0;
    void updatePropertiesState();

    // "PCom_Core::<type key>", the value of the "plugin" property.
    QString pluginText() const;

protected:
    // Appends a record. Free-text network fields checked by a validator are
    // declared with validated = true; everything else with false.
    TavlinProperty *declareProperty(const QString &name, TavlinProperty::InputType type,
                                    const QString &defaultText, bool validated = false);
    // Names that updatePropertiesState() leaves alone ("plugin" and
    // "connect" always are).
    void keepFixed(const QString &name) { m_fixedNames.append(name); }

    // Called before a changing write is applied; the default logs nothing.
    virtual void traceSet(const QString &name, const QVariant &value);
    // Applies a changed value of any name but "connect".
    virtual void applyProperty(const QString &name, const QVariant &value) = 0;

    // The count that a short or failed write did not take.
    static qint64 bytesNotAccepted(qint64 asked, qint64 taken);

private:
    QStringList m_fixedNames;
};
