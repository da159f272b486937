#pragma once

#include <QHash>
#include <QJsonObject>
#include <QMainWindow>

class DeviceTree;
class LogPane;
class LogReceiver;
class PluginInterface_Com;
class Plugin_Com_Device;
class Plugin_Com_Port;
class PropertyEditor;
class QDockWidget;
class QMenu;
class QSplitter;
class QTabWidget;
class QTextBrowser;
class TerminalPane;
class Workbench;

// pcom-gui's window: the device tree and the selected port's properties on
// the left, a terminal per port in the middle, the help of the selected
// device (for the chosen host version) or of the tool on the right and the
// log below. The panes can be closed and brought back through the View
// menu; their sizes are kept between runs and in workspaces.
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
    QMenu *viewMenu() const { return m_viewMenu; }
    TerminalPane *terminal(Plugin_Com_Port *port) const { return m_panes.value(port); }
    // The terminal's tab text.
    QString tabText(Plugin_Com_Port *port) const;

    // Adds a port and selects it; null for an unknown type key.
    Plugin_Com_Port *addPort(const QString &typeKey);
    // Problems are shown in a message box (not waited for); false when the
    // file is no workspace. Open ports are not closed without asking unless
    // `ask` is false (a workspace given on the command line).
    bool openWorkspace(const QString &fileName, bool ask = true);
    // ".json" is added to a name without suffix.
    bool saveWorkspace(const QString &fileName);
    // Whether something changed since the workspace was opened or saved.
    bool isModified() const { return m_modified; }
    // Shows the desktop tool's own help page.
    void showToolHelp();

public slots:
    // Quits without asking (a termination signal): ports closed, log files
    // written out.
    void quitNow();

protected:
    // Unsaved changes and a file still being sent are asked about first;
    // quitting cancels the send, and the log says how much of it left.
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void buildMenus();
    void fillAddMenu(QMenu *menu);
    Plugin_Com_Port *addPortOn(Plugin_Com_Device *device, const QString &connectTo);
    void addPane(Plugin_Com_Port *port);
    void removePane(Plugin_Com_Port *port);
    void showSelection(Plugin_Com_Device *device, Plugin_Com_Port *port);
    void showHelp();
    void report(const QString &title, const QString &text, const QStringList &details);
    void setWorkspaceFile(const QString &fileName);
    void setModified(bool modified);
    bool askToDiscard(const QString &action);
    QJsonObject windowState() const;
    void applyWindowState(const QJsonObject &state);
    TerminalPane *currentPane() const;

    LogReceiver *m_log;
    Workbench *m_bench;
    LogPane *m_logPane;
    DeviceTree *m_tree;
    PropertyEditor *m_editor;
    QSplitter *m_left;
    QTabWidget *m_terminals;
    QTextBrowser *m_help;
    QMenu *m_viewMenu = nullptr;
    QList<QDockWidget *> m_docks;
    QHash<Plugin_Com_Port *, TerminalPane *> m_panes;
    Plugin_Com_Device *m_helpDevice = nullptr;
    bool m_toolHelp = false;
    QString m_workspaceFile;
    bool m_modified = false;
    bool m_quitting = false;
    // The side panes' widths and the log's height as last chosen in a
    // window large enough for them, given back when the window grows again.
    QList<int> m_dockSizes;
};
