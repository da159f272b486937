#include "gui/MainWindow.h"

#include "core/PCom_LinkStatus.h"
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
#include "host/TavlinProperty.h"
#include "host/Version.h"
#include "hostlib/LogReceiver.h"
#include "hostlib/PluginHost.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDebug>
#include <QDockWidget>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QJsonArray>
#include <QMenuBar>
#include <QMessageBox>
#include <QSettings>
#include <QSplitter>
#include <QStatusBar>
#include <QTabWidget>
#include <QTextBrowser>

namespace {
const QString workspaceFilter = QStringLiteral("pcom-gui workspace (*.json);;All files (*)");
// The terminals come first: the help is read beside them, in a narrower pane.
const QList<int> defaultDockSizes{270, 280, 150};
// Below this the side panes are squeezed, and their sizes then are no choice of the user's.
const int roomyWidth = 900;
const int roomyHeight = 500;
// Focus shows plainly on every input, as keyboard users need.
const QString focusStyle = QStringLiteral(
    "QLineEdit:focus, QComboBox:focus, QSpinBox:focus, QAbstractItemView:focus, QPlainTextEdit:focus,"
    " QTextBrowser:focus { border: 2px solid #3875d7; }");

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

// The oldest host version that knows any record of the device's ports.
QString firstVersionOf(Plugin_Com_Device *device)
{
    Plugin_Com_Port *probe = device->createPort();
    QString first;
    for (const char *version : {"2.10", "2.12", "2.20"}) {
        for (const TavlinProperty *record : probe ? probe->tavlinProperties() : QList<TavlinProperty *>()) {
            if (first.isEmpty() && record->isVisible() && record->isSupported(Version(QLatin1String(version))))
                first = QLatin1String(version);
        }
    }
    if (probe)
        device->deletePort(probe);
    return first;
}
}

MainWindow::MainWindow(PluginInterface_Com *plugin, QWidget *parent)
    : QMainWindow(parent), m_log(new LogReceiver(this)), m_bench(new Workbench(plugin, this)),
      m_logPane(new LogPane), m_tree(new DeviceTree(m_bench)), m_editor(new PropertyEditor),
      m_left(new QSplitter(Qt::Vertical)), m_terminals(new QTabWidget), m_help(new QTextBrowser)
{
    Q_INIT_RESOURCE(help);
    // Standard error keeps the errors and warnings; the pane shows every line
    // about the links, not Qt's notes about its platform.
    m_log->setQuiet(true);
    m_log->setQtInternalsAnnounced(false);
    m_log->install();
    connect(m_log, &LogReceiver::lineLogged, m_logPane, &LogPane::addLine);

    m_left->setObjectName(QStringLiteral("left"));
    m_left->addWidget(m_tree);
    m_left->addWidget(m_editor);
    m_left->setChildrenCollapsible(false);
    auto dock = [this](const QString &title, QWidget *widget, Qt::DockWidgetArea area) {
        auto *d = new QDockWidget(title);
        d->setObjectName(title);
        d->setWidget(widget);
        addDockWidget(area, d);
        m_docks.append(d);
        return d;
    };
    setCentralWidget(m_terminals);
    m_terminals->setDocumentMode(true);
    // The terminals yield room to the panes rather than pushing them to nothing.
    m_terminals->setMinimumWidth(200);
    m_help->setOpenExternalLinks(true);
    m_help->setMinimumWidth(150);
    m_help->setLineWrapMode(QTextEdit::WidgetWidth);
    m_tree->setMinimumWidth(150);
    dock(tr("Devices"), m_left, Qt::LeftDockWidgetArea);
    dock(tr("Help"), m_help, Qt::RightDockWidgetArea);
    dock(tr("Log"), m_logPane, Qt::BottomDockWidgetArea);
    m_dockSizes = defaultDockSizes;
    setStyleSheet(focusStyle);
    installEventFilter(this);

    connect(m_bench, &Workbench::portAdded, this, &MainWindow::addPane);
    connect(m_bench, &Workbench::portRemoving, this, &MainWindow::removePane);
    connect(m_bench, &Workbench::portAdded, this, [this] { setModified(true); });
    connect(m_bench, &Workbench::portRemoving, this, [this] { setModified(true); });
    connect(m_tree, &DeviceTree::selectionMoved, this, &MainWindow::showSelection);
    connect(m_editor, &PropertyEditor::edited, this, [this] { setModified(true); });
    connect(m_editor, &PropertyEditor::hostVersionChanged, this, [this] {
        showHelp();
        setModified(true);
    });
    buildMenus();
    setWorkspaceFile(QString());
    resize(1280, 800);
    resizeDocks(m_docks.mid(0, 2), m_dockSizes.mid(0, 2), Qt::Horizontal);
    resizeDocks({m_docks.at(2)}, {m_dockSizes.at(2)}, Qt::Vertical);
    const QSettings settings;
    restoreState(settings.value(QStringLiteral("window/state")).toByteArray());
    m_left->restoreState(settings.value(QStringLiteral("window/left")).toByteArray());
    if (!m_bench->devices().isEmpty()) {
        setWindowIcon(QIcon(m_bench->devices().first()->getIconPath()));
        m_tree->select(m_bench->devices().first());
    }
}

MainWindow::~MainWindow()
{
    QSettings settings;
    settings.setValue(QStringLiteral("window/state"), saveState());
    settings.setValue(QStringLiteral("window/left"), m_left->saveState());
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
        if (Plugin_Com_Port *port = m_tree->currentPort()) {
            port->setTavlinProperty(QStringLiteral("connect"), !port->opened());
            setModified(true);
        }
    }, QKeySequence(Qt::CTRL + Qt::SHIFT + Qt::Key_O));
    QAction *remove = portMenu->addAction(tr("&Delete port"), this, [this] {
        if (Plugin_Com_Port *port = m_tree->currentPort())
            m_bench->removePort(port);
    }, QKeySequence::Delete);
    portMenu->addSeparator();
    portMenu->addAction(tr("&Send line"), this, [this] {
        if (TerminalPane *pane = currentPane())
            pane->sendLine();
    }, QKeySequence(Qt::CTRL + Qt::Key_Return));
    portMenu->addAction(tr("&Find in terminal"), this, [this] {
        if (TerminalPane *pane = currentPane())
            pane->startFind();
    }, QKeySequence::Find);
    portMenu->addAction(tr("C&lear terminal"), this, [this] {
        if (TerminalPane *pane = currentPane())
            pane->clearView();
    }, QKeySequence(Qt::CTRL + Qt::SHIFT + Qt::Key_L));
    portMenu->addAction(tr("&Log to file..."), this, [this] {
        TerminalPane *pane = currentPane();
        if (!pane)
            return;
        const QString name = QFileDialog::getSaveFileName(this, tr("Log to file"), pane->logFile(), QString(), nullptr,
                                                          QFileDialog::DontConfirmOverwrite);
        if (!name.isEmpty())
            pane->setLogFile(name);
    });
    portMenu->addAction(tr("Stop &logging"), this, [this] {
        if (TerminalPane *pane = currentPane())
            pane->setLogFile(QString());
    });
    m_tree->setContextMenuPolicy(Qt::ActionsContextMenu);
    m_tree->addActions({add->menuAction(), toggle, remove});
    // Delete in the tree only, so that it still edits text elsewhere.
    remove->setShortcutContext(Qt::WidgetShortcut);

    m_viewMenu = menuBar()->addMenu(tr("&View"));
    for (QDockWidget *dock : qAsConst(m_docks))
        m_viewMenu->addAction(dock->toggleViewAction());
    m_viewMenu->addSeparator();
    m_viewMenu->addAction(tr("&Reset layout"), this, [this] {
        for (QDockWidget *dock : qAsConst(m_docks)) {
            dock->setFloating(false);
            dock->show();
        }
        addDockWidget(Qt::LeftDockWidgetArea, m_docks.at(0));
        addDockWidget(Qt::RightDockWidgetArea, m_docks.at(1));
        addDockWidget(Qt::BottomDockWidgetArea, m_docks.at(2));
        m_dockSizes = defaultDockSizes;
        resizeDocks(m_docks.mid(0, 2), m_dockSizes.mid(0, 2), Qt::Horizontal);
        resizeDocks({m_docks.at(2)}, {m_dockSizes.at(2)}, Qt::Vertical);
    });

    QMenu *help = menuBar()->addMenu(tr("&Help"));
    help->addAction(tr("pcom-gui &help"), this, &MainWindow::showToolHelp, QKeySequence::HelpContents);
    help->addAction(tr("&About"), this, [this] {
        QMessageBox::about(this, tr("About pcom-gui"),
                           tr("pcom-gui %1: a desktop host of the communication plug-in.").arg(QApplication::applicationVersion()));
    });
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

TerminalPane *MainWindow::currentPane() const
{
    return qobject_cast<TerminalPane *>(m_terminals->currentWidget());
}

QString MainWindow::tabText(Plugin_Com_Port *port) const
{
    return m_terminals->tabText(m_terminals->indexOf(m_panes.value(port)));
}

bool MainWindow::askToDiscard(const QString &action)
{
    if (m_quitting || !m_modified)
        return true;
    const auto answer = QMessageBox::question(
        this, action, tr("The workspace has changes that are not saved. Save them first?"),
        QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel, QMessageBox::Save);
    if (answer == QMessageBox::Cancel)
        return false;
    if (answer == QMessageBox::Discard)
        return true;
    if (m_workspaceFile.isEmpty()) {
        const QString name = QFileDialog::getSaveFileName(this, tr("Save workspace"), QString(), workspaceFilter);
        return !name.isEmpty() && saveWorkspace(name);
    }
    return saveWorkspace(m_workspaceFile);
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
    if (!m_quitting && !sending.isEmpty()
        && QMessageBox::question(this, tr("Quit while sending"),
                                 tr("These files are still being sent:\n%1\n\nQuit and cancel them?")
                                     .arg(files.join(QLatin1Char('\n'))))
               != QMessageBox::Yes) {
        event->ignore();
        return;
    }
    if (!askToDiscard(tr("Quit"))) {
        event->ignore();
        return;
    }
    for (TerminalPane *pane : qAsConst(sending))
        pane->cancelFile();
    QMainWindow::closeEvent(event);
}

void MainWindow::quitNow()
{
    m_quitting = true;
    LogReceiver::post(QStringLiteral("info"), tr("pcom-gui: quitting on a termination signal"));
    close();
    // Ports, terminals and log files go with the window, in order.
    m_bench->removeAllPorts();
    QApplication::quit();
}

// Before the layout shrinks the panes: their sizes in a roomy window are the
// user's, to give back when it is roomy again.
bool MainWindow::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == this && event->type() == QEvent::Resize) {
        const QSize old = static_cast<QResizeEvent *>(event)->oldSize();
        if (isVisible() && old.width() >= roomyWidth && old.height() >= roomyHeight)
            m_dockSizes = {m_docks.at(0)->width(), m_docks.at(1)->width(), m_docks.at(2)->height()};
    }
    return QMainWindow::eventFilter(watched, event);
}

void MainWindow::resizeEvent(QResizeEvent *event)
{
    QMainWindow::resizeEvent(event);
    const QSize old = event->oldSize();
    if (width() < roomyWidth || height() < roomyHeight || !old.isValid()
        || (old.width() >= roomyWidth && old.height() >= roomyHeight))
        return;
    resizeDocks(m_docks.mid(0, 2), m_dockSizes.mid(0, 2), Qt::Horizontal);
    resizeDocks({m_docks.at(2)}, {m_dockSizes.at(2)}, Qt::Vertical);
}

void MainWindow::addPane(Plugin_Com_Port *port)
{
    auto *pane = new TerminalPane(port);
    m_panes.insert(port, pane);
    const auto label = [port] { return QStringLiteral("%1 %2").arg(port->typeKey(), Workbench::portLabel(port)); };
    m_terminals->addTab(pane, QIcon(port->device()->getIconPath()), label());
    const auto relabel = [this, pane, label] { m_terminals->setTabText(m_terminals->indexOf(pane), label()); };
    connect(port, &AbstractTreeItem::dataChanged, pane, relabel);
    connect(pane, &TerminalPane::stateShown, pane, relabel);
    connect(pane, &TerminalPane::stateShown, m_tree, [this, port] { m_tree->refresh(port); });
    connect(pane, &TerminalPane::settingsChanged, this, [this] { setModified(true); });
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
    if (device == m_helpDevice && !m_toolHelp)
        return;
    m_helpDevice = device;
    showHelp();
}

void MainWindow::showToolHelp()
{
    m_toolHelp = true;
    QFile page(QStringLiteral(":/pcom-gui/help.html"));
    m_help->setHtml(page.open(QIODevice::ReadOnly) ? QString::fromUtf8(page.readAll()) : QString());
    m_docks.at(1)->show();
}

// The device's page for the host version chosen above the properties ("none":
// the newest); a version that knows none of its records says so.
void MainWindow::showHelp()
{
    m_toolHelp = false;
    if (!m_helpDevice) {
        m_help->clear();
        return;
    }
    const QString chosen = m_editor->hostVersion();
    const Version version = chosen == QLatin1String("none") ? Version(2, 20, 0) : Version(chosen);
    const QString page = HelpRenderer::render(m_helpDevice, version);
    const QString first = firstVersionOf(m_helpDevice);
    if (!page.isEmpty() && !first.isEmpty() && Version(first) <= version) {
        m_help->setHtml(page);
        return;
    }
    m_help->setHtml(tr("<p><b>%1</b></p><p>Host version %2 knows no property of this device, so it shows no help page "
                       "for it%3. Choose another host version above the properties.</p>")
                        .arg(m_helpDevice->name().toHtmlEscaped(), chosen,
                             first.isEmpty() ? QString() : tr(" (it needs %1 or later)").arg(first)));
}

QJsonObject MainWindow::windowState() const
{
    return {{QStringLiteral("hostVersion"), m_editor->hostVersion()},
            {QStringLiteral("layout"), QString::fromLatin1(saveState().toBase64())},
            {QStringLiteral("left"), QString::fromLatin1(m_left->saveState().toBase64())},
            {QStringLiteral("size"), QJsonArray{width(), height()}},
            {QStringLiteral("pcomGui"), QApplication::applicationVersion()}};
}

void MainWindow::applyWindowState(const QJsonObject &state)
{
    if (state.contains(QStringLiteral("hostVersion")))
        m_editor->setHostVersion(state.value(QStringLiteral("hostVersion")).toString());
    const QJsonArray size = state.value(QStringLiteral("size")).toArray();
    if (size.size() == 2 && size.at(0).toInt() > 0 && size.at(1).toInt() > 0)
        resize(size.at(0).toInt(), size.at(1).toInt());
    restoreState(QByteArray::fromBase64(state.value(QStringLiteral("layout")).toString().toLatin1()));
    m_left->restoreState(QByteArray::fromBase64(state.value(QStringLiteral("left")).toString().toLatin1()));
}

bool MainWindow::openWorkspace(const QString &fileName, bool ask)
{
    int open = 0;
    for (Plugin_Com_Port *port : m_bench->ports())
        open += port->opened() ? 1 : 0;
    if (ask && !askToDiscard(tr("Open workspace")))
        return false;
    if (ask && !m_quitting && open > 0
        && QMessageBox::question(this, tr("Open workspace"),
                                 tr("%n port(s) are open. Close them and open %1?", nullptr, open).arg(fileName))
               != QMessageBox::Yes)
        return false;
    QString error;
    QStringList problems;
    QJsonObject window;
    const auto apply = [this](Plugin_Com_Port *port, const QJsonObject &settings) {
        if (TerminalPane *pane = m_panes.value(port))
            pane->applySettings(settings);
    };
    if (!Workspace::open(*m_bench, fileName, &window, apply, &error, &problems)) {
        report(tr("Open workspace"), error, {});
        return false;
    }
    applyWindowState(window);
    setWorkspaceFile(fileName);
    if (!m_bench->ports().isEmpty())
        m_tree->select(m_bench->ports().first());
    setModified(false);
    if (!problems.isEmpty())
        report(tr("Open workspace"), tr("%1 was opened, but not all of it:").arg(fileName), problems);
    else
        statusBar()->showMessage(tr("Opened %1").arg(fileName), 5000);
    return true;
}

bool MainWindow::saveWorkspace(const QString &fileName)
{
    const QString name = Workspace::withSuffix(fileName);
    QString error;
    const auto terminalOf = [this](Plugin_Com_Port *port) {
        TerminalPane *pane = m_panes.value(port);
        return pane ? pane->settings() : QJsonObject();
    };
    if (!Workspace::save(*m_bench, name, windowState(), terminalOf, &error)) {
        report(tr("Save workspace"), error, {});
        return false;
    }
    setWorkspaceFile(name);
    setModified(false);
    statusBar()->showMessage(tr("Saved %1").arg(name), 5000);
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
    setModified(m_modified);
}

void MainWindow::setModified(bool modified)
{
    m_modified = modified;
    const QString name = m_workspaceFile.isEmpty() ? tr("untitled") : QFileInfo(m_workspaceFile).fileName();
    setWindowTitle(QStringLiteral("%1%2 - pcom-gui").arg(name, modified ? QStringLiteral("*") : QString()));
}
