#include "host/AbstractTreeItem.h"

#include "host/TavlinProperty.h"
#include "host/Version.h"

AbstractTreeItem::AbstractTreeItem(QObject *parent)
    : QObject(parent)
{
}

AbstractTreeItem::~AbstractTreeItem()
{
    qDeleteAll(m_properties);
}

TavlinProperty *AbstractTreeItem::appendProperty(TavlinProperty *property)
{
    if (property)
        m_properties.append(property);
    return property;
}

TavlinProperty *AbstractTreeItem::tavlinProperty(const QString &name) const
{
    for (TavlinProperty *property : m_properties) {
        if (property->name() == name)
            return property;
    }
    return nullptr;
}

void AbstractTreeItem::raiseDataChanged()
{
    emit dataChanged();
}

QString AbstractTreeItem::getPropertyDoc(const Version &version, const QString &label) const
{
    QString html;
    html += QStringLiteral("<h3>%1</h3>\r\n").arg(label.toHtmlEscaped());
    html += QStringLiteral("<table border=\"1\" cellspacing=\"0\" cellpadding=\"3\">\r\n");
    html += QStringLiteral("<tr><th>Name</th><th>Type</th><th>Default</th><th>Options</th>"
                           "<th>Description</th></tr>\r\n");
    for (const TavlinProperty *p : m_properties) {
        if (!p->isSupported(version))
            continue;
        html += QStringLiteral("<tr><td>%1</td><td>%2</td><td>%3</td><td>%4</td><td>%5</td></tr>\r\n")
                    .arg(p->name().toHtmlEscaped(), TavlinProperty::inputTypeName(p->inputType()),
                         p->defaultValue().toHtmlEscaped(),
                         p->options().join(QStringLiteral(", ")).toHtmlEscaped(),
                         p->description.toHtmlEscaped());
    }
    html += QStringLiteral("</table>\r\n");
    return html;
}
