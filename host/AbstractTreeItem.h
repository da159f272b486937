#pragma once

#include "host/host_export.h"

#include <QList>
#include <QObject>
#include <QString>

class TavlinProperty;
class Version;

// An item of the host's tree: it owns an ordered list of property records
// and tells the host when its data changed.
class HOST_EXPORT AbstractTreeItem : public QObject
{
    Q_OBJECT
public:
    explicit AbstractTreeItem(QObject *parent = nullptr);
    ~AbstractTreeItem() override;

    // Takes ownership of the record and returns it.
    TavlinProperty *appendProperty(TavlinProperty *property);
    TavlinProperty *tavlinProperty(const QString &name) const;
    QList<TavlinProperty *> tavlinProperties() const { return m_properties; }

    void raiseDataChanged();

    // An HTML table of the records supported in the given host version.
    QString getPropertyDoc(const Version &version, const QString &label) const;

signals:
    void dataChanged();

private:
    QList<TavlinProperty *> m_properties;
};
