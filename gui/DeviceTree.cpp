#include "gui/DeviceTree.h"

#include "gui/Workbench.h"
#include "host/Plugin_Com_Device.h"
#include "host/Plugin_Com_Port.h"

#include <QFile>
#include <QHeaderView>

namespace {
const int objectRole = Qt::UserRole;
}

DeviceTree::DeviceTree(Workbench *bench, QWidget *parent)
    : QTreeWidget(parent)
{
    setHeaderHidden(true);
    setIconSize(QSize(24, 24));
    for (Plugin_Com_Device *device : bench->devices()) {
        auto *item = new QTreeWidgetItem(this, {device->name()});
        item->setIcon(0, QIcon(device->getIconPath()));
        QFile brief(device->getDocBriefPath());
        if (brief.open(QIODevice::ReadOnly))
            item->setToolTip(0, QString::fromUtf8(brief.readAll()));
        item->setData(0, objectRole, QVariant::fromValue<QObject *>(device));
        m_items.insert(device, item);
    }
    for (Plugin_Com_Port *port : bench->ports())
        addPort(port);
    connect(bench, &Workbench::portAdded, this, &DeviceTree::addPort);
    connect(bench, &Workbench::portRemoving, this, &DeviceTree::removePort);
    connect(this, &QTreeWidget::currentItemChanged, this, [this] { emit selectionMoved(currentDevice(), currentPort()); });
}

QObject *DeviceTree::objectOf(const QTreeWidgetItem *item) const
{
    return item ? item->data(0, objectRole).value<QObject *>() : nullptr;
}

Plugin_Com_Device *DeviceTree::currentDevice() const
{
    if (Plugin_Com_Port *port = currentPort())
        return port->device();
    return qobject_cast<Plugin_Com_Device *>(objectOf(currentItem()));
}

Plugin_Com_Port *DeviceTree::currentPort() const
{
    return qobject_cast<Plugin_Com_Port *>(objectOf(currentItem()));
}

void DeviceTree::select(QObject *deviceOrPort)
{
    if (QTreeWidgetItem *item = m_items.value(deviceOrPort))
        setCurrentItem(item);
}

void DeviceTree::addPort(Plugin_Com_Port *port)
{
    QTreeWidgetItem *parent = m_items.value(port->device());
    if (!parent)
        return;
    auto *item = new QTreeWidgetItem(parent);
    item->setIcon(0, parent->icon(0));
    item->setData(0, objectRole, QVariant::fromValue<QObject *>(port));
    m_items.insert(port, item);
    connect(port, &AbstractTreeItem::dataChanged, this, [this, port] { updatePort(port); });
    updatePort(port);
    parent->setExpanded(true);
}

void DeviceTree::removePort(Plugin_Com_Port *port)
{
    disconnect(port, nullptr, this, nullptr);
    delete m_items.take(port);
}

void DeviceTree::updatePort(Plugin_Com_Port *port)
{
    QTreeWidgetItem *item = m_items.value(port);
    if (!item)
        return;
    const bool open = port->opened();
    item->setText(0, open ? tr("%1 (open)").arg(Workbench::portLabel(port)) : Workbench::portLabel(port));
    QFont font = item->font(0);
    font.setBold(open);
    item->setFont(0, font);
    item->setToolTip(0, port->getTavlinProperty(QStringLiteral("plugin")).toString());
}
