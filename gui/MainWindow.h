#pragma once

#include <QHash>
#include <QMainWindow>

class DeviceTree;
class LogPane;
class LogReceiver;
class PluginInterface_Com;
class Plugin_Com_Device;
class Plugin_Com_Port;
class PropertyEditor;
class QMenu;
class QTabWidget;
class QTextBrowser;
class TerminalPane;
class Workbench;

// pcom-gui's window: the device tree and the selected port's properties on
// the left, a terminal per port in the middle, the selected device's help on
// the right and the log below.
class MainWindow : public QMainWindow
{
    Q_OBJECT
public:
    explicit MainWindow(PluginInterface_Com *plugin, QWidget *parent = nullptr);
    ~MainWindow() override;

    Workbench *workbench() const { return m_bench; }
    DeviceTree *tree() const { return m_tree; }
    PropertyEditor *editor() const { return m_editor; }
    LogPane *logPane() const { return m_logPane; }
    QTextBrowser *help() const { return m_help; }
    TerminalPane *terminal(Plugin_Com_Port *port) const { return m_panes.value(port); }

    // Adds a port and selects it; null for an unknown type key.
    Plugin_Com_Port *addPort(const QString &typeKey);
    // Problems are shown in a message box (not waited for); false when the
    // file is no workspace.
    bool openWorkspace(const QString &fileName);
    bool saveWorkspace(const QString &fileName);

protected:
    // A file still being sent is asked about first; quitting cancels it,
    // and the log says how much of it left.
    void closeEvent(QCloseEvent *event) override;

private:
    void buildMenus();
    void fillAddMenu(QMenu *menu);
    Plugin_Com_Port *addPortOn(Plugin_Com_Device *device, const QString &connectTo);
    void addPane(Plugin_Com_Port *port);
    void removePane(Plugin_Com_Port *port);
    void showSelection(Plugin_Com_Device *device, Plugin_Com_Port *port);
    void report(const QString &title, const QString &text, const QStringList &details);
    void setWorkspaceFile(const QString &fileName);

    LogReceiver *m_log;
    Workbench *m_bench;
    LogPane *m_logPane;
    DeviceTree *m_tree;
    PropertyEditor *m_editor;
    QTabWidget *m_terminals;
    QTextBrowser *m_help;
    QHash<Plugin_Com_Port *, TerminalPane *> m_panes;
    Plugin_Com_Device *m_helpDevice = nullptr;
    QString m_workspaceFile;
};
