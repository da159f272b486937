#pragma once

#include <QHash>
#include <QTreeWidget>

class Plugin_Com_Device;
class Plugin_Com_Port;
class Workbench;

// The plug-in's devices with their icons and names (the brief as tooltip)
// and their ports as children, each labelled with its link and state.
class DeviceTree : public QTreeWidget
{
    Q_OBJECT
public:
    explicit DeviceTree(Workbench *bench, QWidget *parent = nullptr);

    // The selected device, or the device of the selected port.
    Plugin_Com_Device *currentDevice() const;
    Plugin_Com_Port *currentPort() const;
    void select(QObject *deviceOrPort);
    // Shows the port's label and state again.
    void refresh(Plugin_Com_Port *port) { updatePort(port); }

signals:
    void selectionMoved(Plugin_Com_Device *device, Plugin_Com_Port *port);

private:
    void addPort(Plugin_Com_Port *port);
    void removePort(Plugin_Com_Port *port);
    void updatePort(Plugin_Com_Port *port);
    QObject *objectOf(const QTreeWidgetItem *item) const;

    QHash<QObject *, QTreeWidgetItem *> m_items;
};
