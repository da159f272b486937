#pragma once

#include "host/host_export.h"
#include "host/Version.h"

#include <QString>
#include <QStringList>

class QValidator;

// One named, editable setting of a tree item, as the host shows it in its
// property editor. The record only describes the setting; the item holds the
// live value.
class HOST_EXPORT TavlinProperty
{
public:
    enum InputType {
        FreeText = 0,
        Choice = 1,
        Boolean = 2,
    };

    // visible: shown in the host's editor; validated: the editor checks input
    // with the validator before it writes; stored: the host saves the value
    // with its project.
    TavlinProperty(const QString &name, InputType inputType, bool visible,
                   const QString &defaultValue, bool validated, bool stored);
    ~TavlinProperty();

    TavlinProperty(const TavlinProperty &) = delete;
    TavlinProperty &operator=(const TavlinProperty &) = delete;

    QString name() const { return m_name; }
    InputType inputType() const { return m_inputType; }
    bool isVisible() const { return m_visible; }
    QString defaultValue() const { return m_defaultValue; }
    bool isValidated() const { return m_validated; }
    bool isStored() const { return m_stored; }

    QString description;

    QStringList options() const { return m_options; }
    void setOptions(const QStringList &options) { m_options = options; }

    bool isWritable() const { return m_writable; }
    void setWritable(bool writable) { m_writable = writable; }

    // The record takes ownership of the validator.
    QValidator *validator() const { return m_validator; }
    void setValidator(QValidator *validator);

    Version minVersion() const { return m_minVersion; }
    Version maxVersion() const { return m_maxVersion; }
    void setSupportedVersion(const Version &min, const Version &max);
    bool isSupported(const Version &hostVersion) const;

    // Whether the host's editor would accept this text (validator and, for
    // a choice, nothing more: a port may take values outside its options).
    bool acceptsText(const QString &text) const;

    // "text", "choice" or "boolean", as the help page's table names it.
    static QString inputTypeName(InputType type);

private:
    QString m_name;
    InputType m_inputType;
    bool m_visible;
    QString m_defaultValue;
    bool m_validated;
    bool m_stored;
    QStringList m_options;
    bool m_writable = true;
    QValidator *m_validator = nullptr;
    Version m_minVersion{-1, 0, 0};
    Version m_maxVersion{-1, 0, 0};
};
