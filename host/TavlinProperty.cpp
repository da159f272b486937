#include "host/TavlinProperty.h"

#include <QValidator>

TavlinProperty::TavlinProperty(const QString &name, InputType inputType, bool visible,
                               const QString &defaultValue, bool validated, bool stored)
    : m_name(name),
      m_inputType(inputType),
      m_visible(visible),
      m_defaultValue(defaultValue),
      m_validated(validated),
      m_stored(stored)
{
}

TavlinProperty::~TavlinProperty()
{
    delete m_validator;
}

void TavlinProperty::setValidator(QValidator *validator)
{
    if (validator == m_validator)
        return;
    delete m_validator;
    m_validator = validator;
}

void TavlinProperty::setSupportedVersion(const Version &min, const Version &max)
{
    m_minVersion = min;
    m_maxVersion = max;
}

bool TavlinProperty::isSupported(const Version &hostVersion) const
{
    if (!m_minVersion.isOpenEnd() && hostVersion < m_minVersion)
        return false;
    if (!m_maxVersion.isOpenEnd() && hostVersion > m_maxVersion)
        return false;
    return true;
}

bool TavlinProperty::acceptsText(const QString &text) const
{
    if (m_inputType == Boolean) {
        const QString t = text.trimmed().toLower();
        return t == QLatin1String("true") || t == QLatin1String("false")
               || t == QLatin1String("1") || t == QLatin1String("0");
    }
    if (!m_validator)
        return true;
    QString copy = text;
    int pos = 0;
    return m_validator->validate(copy, pos) == QValidator::Acceptable;
}

QString TavlinProperty::inputTypeName(InputType type)
{
    switch (type) {
    case FreeText:
        return QStringLiteral("text");
    case Choice:
        return QStringLiteral("choice");
    case Boolean:
        return QStringLiteral("boolean");
    }
    return QString::number(int(type));
}
