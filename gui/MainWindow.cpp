#include "gui/MainWindow.h"

#include "gui/DeviceTree.h"
#include "gui/LogPane.h"
#include "gui/PropertyEditor.h"
#include "gui/TerminalEndpoint.h"
#include "gui/TerminalPane.h"
#include "gui/Workbench.h"
#include "gui/Workspace.h"
#include "host/HelpRenderer.h"
#include "host/Plugin_Com_Device.h"
#include "host/Plugin_Com_Port.h"
#include "host/Version.h"
#include "hostlib/LogReceiver.h"

#include <QApplication>
#include <QDebug>
#include <QDockWidget>
#include <QFileDialog>
#include <QFileInfo>
#include <QCloseEvent>
#include <QMenuBar>
#include <QMessageBox>
#include <QSplitter>
#include <QStatusBar>
#include <QTabWidget>
#include <QTextBrowser>

namespace {
const QString workspaceFilter = QStringLiteral("pcom-gui workspace (*.json);;All files (*)");
// Whether a device's ports have a "device" record, which its
// availablePorts() offers values for; asked of a throw-away port, as the
// device documents its records.
bool offersDevices(Plugin_Com_Device *device)
{
    Plugin_Com_Port *probe = device->createPort();
    const bool offers = probe && probe->tavlinProperty(QStringLiteral("device"));
    if (probe)
        device->deletePort(probe);
    return offers;
}
}

MainWindow::MainWindow(PluginInterface_Com *plugin, QWidget *parent)
    : QMainWindow(parent), m_log(new LogReceiver(this)), m_bench(new Workbench(plugin, this)),
      m_logPane(new LogPane), m_tree(new DeviceTree(m_bench)), m_editor(new PropertyEditor),
      m_terminals(new QTabWidget), m_help(new QTextBrowser)
{
    // Standard error keeps the errors and warnings; the pane shows every line.
    m_log->setQuiet(true);
    m_log->install();
    connect(m_log, &LogReceiver::lineLogged, m_logPane, &LogPane::addLine);

    auto *left = new QSplitter(Qt::Vertical);
    left->addWidget(m_tree);
    left->addWidget(m_editor);
    auto dock = [this](const QString &title, QWidget *widget, Qt::DockWidgetArea area) {
        auto *d = new QDockWidget(title);
        d->setObjectName(title);
        d->setWidget(widget);
        addDockWidget(area, d);
        return d;
    };
    setCentralWidget(m_terminals);
    m_terminals->setDocumentMode(true);
    m_help->setOpenExternalLinks(true);
    QList<QDockWidget *> docks{dock(tr("Devices"), left, Qt::LeftDockWidgetArea),
                               dock(tr("Help"), m_help, Qt::RightDockWidgetArea),
                               dock(tr("Log"), m_logPane, Qt::BottomDockWidgetArea)};
    resizeDocks(docks.mid(0, 2), {350, 380}, Qt::Horizontal);
    resizeDocks({docks.at(2)}, {170}, Qt::Vertical);

    connect(m_bench, &Workbench::portAdded, this, &MainWindow::addPane);
    connect(m_bench, &Workbench::portRemoving, this, &MainWindow::removePane);
    connect(m_tree, &DeviceTree::selectionMoved, this, &MainWindow::showSelection);
    buildMenus();
    setWorkspaceFile(QString());
    resize(1280, 800);
    if (!m_bench->devices().isEmpty()) {
        setWindowIcon(QIcon(m_bench->devices().first()->getIconPath()));
        m_tree->select(m_bench->devices().first());
    }
}

MainWindow::~MainWindow()
{
    // Ports go while their panes and the log still listen.
    m_bench->removeAllPorts();
}

void MainWindow::buildMenus()
{
    QMenu *file = menuBar()->addMenu(tr("&File"));
    file->addAction(tr("&Open workspace..."), this, [this] {
        const QString name = QFileDialog::getOpenFileName(this, tr("Open workspace"), QString(), workspaceFilter);
        if (!name.isEmpty())
            openWorkspace(name);
    }, QKeySequence::Open);
    auto saveAs = [this] {
        const QString name = QFileDialog::getSaveFileName(this, tr("Save workspace"), m_workspaceFile, workspaceFilter);
        if (!name.isEmpty())
            saveWorkspace(name);
    };
    file->addAction(tr("&Save workspace"), this, [this, saveAs] {
        if (m_workspaceFile.isEmpty())
            saveAs();
        else
            saveWorkspace(m_workspaceFile);
    }, QKeySequence::Save);
    file->addAction(tr("Save workspace &as..."), this, saveAs, QKeySequence::SaveAs);
    file->addSeparator();
    file->addAction(tr("&Quit"), this, &QWidget::close, QKeySequence::Quit);

    QMenu *portMenu = menuBar()->addMenu(tr("&Port"));
    QMenu *add = portMenu->addMenu(tr("&Add port"));
    connect(add, &QMenu::aboutToShow, this, [this, add] { fillAddMenu(add); });
    QAction *toggle = portMenu->addAction(tr("Open / &close"), this, [this] {
        if (Plugin_Com_Port *port = m_tree->currentPort())
            port->setTavlinProperty(QStringLiteral("connect"), !port->opened());
    });
    QAction *remove = portMenu->addAction(tr("&Delete port"), this, [this] {
        if (Plugin_Com_Port *port = m_tree->currentPort())
            m_bench->removePort(port);
    }, QKeySequence::Delete);
    m_tree->setContextMenuPolicy(Qt::ActionsContextMenu);
    m_tree->addActions({add->menuAction(), toggle, remove});
    // Delete in the tree only, so that it still edits text elsewhere.
    remove->setShortcutContext(Qt::WidgetShortcut);
}

void MainWindow::fillAddMenu(QMenu *menu)
{
    menu->clear();
    for (Plugin_Com_Device *device : m_bench->devices()) {
        const QStringList offered =
            offersDevices(device) ? device->availablePorts() : QStringList();
        if (offered.isEmpty()) {
            menu->addAction(QIcon(device->getIconPath()), device->name(), this, [this, device] { addPortOn(device, {}); });
            continue;
        }
        QMenu *sub = menu->addMenu(QIcon(device->getIconPath()), device->name());
        for (const QString &name : offered)
            sub->addAction(name, this, [this, device, name] { addPortOn(device, name); });
        sub->addAction(tr("Other..."), this, [this, device] { addPortOn(device, {}); });
    }
}

Plugin_Com_Port *MainWindow::addPort(const QString &typeKey)
{
    Plugin_Com_Device *device = m_bench->device(typeKey);
    if (!device)
        return nullptr;
    return addPortOn(device, {});
}

Plugin_Com_Port *MainWindow::addPortOn(Plugin_Com_Device *device, const QString &connectTo)
{
    Plugin_Com_Port *port = m_bench->addPort(device);
    if (!port)
        return nullptr;
    if (!connectTo.isEmpty())
        port->setTavlinProperty(QStringLiteral("device"), connectTo);
    m_tree->select(port);
    return port;
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    QList<TerminalPane *> sending;
    QStringList files;
    for (TerminalPane *pane : qAsConst(m_panes)) {
        if (pane->endpoint() && pane->endpoint()->isSendingFile()) {
            sending.append(pane);
            files.append(QStringLiteral("%1 (%2 of %3 bytes sent)")
                             .arg(pane->endpoint()->fileName())
                             .arg(pane->endpoint()->fileSent())
                             .arg(pane->endpoint()->fileSize()));
        }
    }
    if (!sending.isEmpty()
        && QMessageBox::question(this, tr("Quit while sending"),
                                 tr("These files are still being sent:\n%1\n\nQuit and cancel them?")
                                     .arg(files.join(QLatin1Char('\n'))))
               != QMessageBox::Yes) {
        event->ignore();
        return;
    }
    for (TerminalPane *pane : qAsConst(sending))
        pane->cancelFile();
    QMainWindow::closeEvent(event);
}

void MainWindow::addPane(Plugin_Com_Port *port)
{
    auto *pane = new TerminalPane(port);
    m_panes.insert(port, pane);
    const auto label = [port] { return QStringLiteral("%1 %2").arg(port->typeKey(), Workbench::portLabel(port)); };
    m_terminals->addTab(pane, QIcon(port->device()->getIconPath()), label());
    connect(port, &AbstractTreeItem::dataChanged, pane, [this, pane, label] {
        m_terminals->setTabText(m_terminals->indexOf(pane), label());
    });
}

void MainWindow::removePane(Plugin_Com_Port *port)
{
    if (m_editor->port() == port)
        m_editor->setPort(nullptr);
    delete m_panes.take(port);
}

void MainWindow::showSelection(Plugin_Com_Device *device, Plugin_Com_Port *port)
{
    m_editor->setPort(port);
    if (TerminalPane *pane = m_panes.value(port))
        m_terminals->setCurrentWidget(pane);
    if (device == m_helpDevice)
        return;
    m_helpDevice = device;
    m_help->setHtml(device ? HelpRenderer::render(device, Version(2, 20, 0)) : QString());
}

bool MainWindow::openWorkspace(const QString &fileName)
{
    QString error;
    QStringList problems;
    if (!Workspace::open(*m_bench, fileName, &error, &problems)) {
        report(tr("Open workspace"), error, {});
        return false;
    }
    setWorkspaceFile(fileName);
    if (!m_bench->ports().isEmpty())
        m_tree->select(m_bench->ports().first());
    if (!problems.isEmpty())
        report(tr("Open workspace"), tr("%1 was opened, but not all of it:").arg(fileName), problems);
    else
        statusBar()->showMessage(tr("Opened %1").arg(fileName), 5000);
    return true;
}

bool MainWindow::saveWorkspace(const QString &fileName)
{
    QString error;
    if (!Workspace::save(*m_bench, fileName, &error)) {
        report(tr("Save workspace"), error, {});
        return false;
    }
    setWorkspaceFile(fileName);
    statusBar()->showMessage(tr("Saved %1").arg(fileName), 5000);
    return true;
}

void MainWindow::report(const QString &title, const QString &text, const QStringList &details)
{
    // Through Qt's log, so that it reaches the log pane and standard error.
    for (const QString &line : QStringList(text) + details)
        qWarning().noquote() << line;
    auto *box = new QMessageBox(QMessageBox::Warning, title, text, QMessageBox::Ok, this);
    box->setInformativeText(details.join(QLatin1Char('\n')));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

void MainWindow::setWorkspaceFile(const QString &fileName)
{
    m_workspaceFile = fileName;
    setWindowTitle(fileName.isEmpty() ? QStringLiteral("pcom-gui")
                                      : QStringLiteral("%1 - pcom-gui").arg(QFileInfo(fileName).fileName()));
}
