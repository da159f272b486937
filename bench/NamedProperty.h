#pragma once

#include <QObject>
#include <QVariant>

// Qt's own way to set and read a value by name: a Q_PROPERTY with a change
// signal, written and read through QObject::setProperty and property. The
// baseline of the plug-in's property path.
class NamedProperty : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QVariant value READ value WRITE setValue NOTIFY valueChanged)
public:
    using QObject::QObject;

    QVariant value() const { return m_value; }
    void setValue(const QVariant &value);

signals:
    void valueChanged();

private:
    QVariant m_value;
};
