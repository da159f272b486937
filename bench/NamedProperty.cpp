#include "bench/NamedProperty.h"

void NamedProperty::setValue(const QVariant &value)
{
    if (m_value == value)
        return;
    m_value = value;
    emit valueChanged();
}
