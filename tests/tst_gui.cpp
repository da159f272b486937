#include "gui/DeviceTree.h"
#include "gui/CanBusHealth.h"
#include "gui/CanFrameTable.h"
#include "gui/CanIdView.h"
#include "gui/PeriodicSender.h"
#include "gui/LogPane.h"
#include "gui/MacroBar.h"
#include "gui/MainWindow.h"
#include "gui/PropertyEditor.h"
#include "gui/TerminalEndpoint.h"
#include "gui/TerminalPane.h"
#include "gui/Workbench.h"
#include "host/Plugin_Com_Device.h"
#include "host/Plugin_Com_Port.h"
#include "host/TavlinProperty.h"
#include "hostlib/PluginHost.h"
#include "tests/support/LoopbackPeer.h"
#include "tests/support/NetClientTestUtil.h"
#include "tests/support/PcomProcess.h"
#include "tests/support/PseudoTerminal.h"
#include "tests/testcan/TestCanControl.h"
#include "core/PCom_SerialLine.h"
#include "gui/SerialSettingsPanel.h"

#include <QCheckBox>
#include <QComboBox>
#include <QMenu>
#include <QTextBrowser>
#include <QDockWidget>
#include <QLineEdit>
#include <QMessageBox>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QToolButton>
#include <QtMath>
#include <QtTest>

// pcom-gui's window driven as a user would: through the tree, the property
// editor and the terminals, with the plug-in loaded from its file.
class tst_Gui : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void linksThroughEditorAndTerminals();
    void editorRules_data();
    void editorRules();
    void terminalViewsAndLayout();
    void workspaceRoundTrip();
    void unattendedCanLog();

private:
    PluginHost m_host;
};

namespace {

const QString connectName = QStringLiteral("connect");

// Types into a record's editor and presses Return.
void type(PropertyEditor *editor, const QString &name, const QString &text)
{
    QWidget *widget = editor->editor(name);
    QVERIFY2(widget, qPrintable(name));
    auto *combo = qobject_cast<QComboBox *>(widget);
    QLineEdit *line = combo ? combo->lineEdit() : qobject_cast<QLineEdit *>(widget);
    line->selectAll();
    QTest::keyClicks(line, text);
    QTest::keyClick(line, Qt::Key_Return);
}

// Types a line into a terminal's input and presses Return.
void enter(TerminalPane *pane, const QString &text)
{
    pane->input()->setText(text);
    QTest::keyClick(pane->input(), Qt::Key_Return);
}

void clickConnect(PropertyEditor *editor) { qobject_cast<QCheckBox *>(editor->editor(connectName))->click(); }

QStringList enabledRecords(PropertyEditor *editor, Plugin_Com_Port *port)
{
    QStringList names;
    for (const TavlinProperty *record : port->tavlinProperties())
        if (editor->editor(record->name())->isEnabled())
            names.append(record->name());
    return names;
}

// Every port's type and record values, in order.
QList<QVariantMap> valuesOf(Workbench *bench)
{
    QList<QVariantMap> all;
    for (Plugin_Com_Port *port : bench->ports()) {
        all.append({{QStringLiteral("type"), Workbench::typeKey(port->device())}});
        for (const TavlinProperty *record : port->tavlinProperties())
            all.last().insert(record->name(), port->getTavlinProperty(record->name()));
    }
    return all;
}

} // namespace

void tst_Gui::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    QCoreApplication::addLibraryPath(QStringLiteral(PCOM_TESTCAN_LIBRARY_DIR));
    QString error;
    QVERIFY2(m_host.load(QStringLiteral(PCOM_PLUGIN_FILE), &error), qPrintable(error));
}

void tst_Gui::linksThroughEditorAndTerminals()
{
    MainWindow window(m_host.plugin());
    window.show();

    // The server, configured through the editor: refused input changes
    // nothing; the records are locked while it is open.
    Plugin_Com_Port *server = window.addPort(QStringLiteral("tcpServer"));
    PropertyEditor *editor = window.editor();
    type(editor, QStringLiteral("port"), QStringLiteral("70000"));
    QVERIFY(editor->message().contains(QStringLiteral("70000")));
    QCOMPARE(server->getTavlinProperty(QStringLiteral("port")).toInt(), 0);
    type(editor, QStringLiteral("address"), QStringLiteral("127.0.0.1"));
    const QStringList unlocked = enabledRecords(editor, server);
    QCOMPARE(unlocked, QStringList({"port", "address", "connect"}));
    clickConnect(editor);
    QVERIFY(server->opened());
    QCOMPARE(enabledRecords(editor, server), QStringList({connectName}));

    // The log pane has the server's line, with the port that it chose.
    static const QRegularExpression running(QStringLiteral("^progress: tcpServer: Server running on IP 127.0.0.1, port (\\d+)$"));
    QString line;
    QTRY_VERIFY_WITH_TIMEOUT(!(line = window.logPane()->shownLines().filter(running).value(0)).isEmpty(), 5000);
    const QString serverPort = running.match(line).captured(1);

    // The new port is the editor's: the client connects.
    Plugin_Com_Port *client = window.addPort(QStringLiteral("tcpClient"));
    type(editor, QStringLiteral("address"), QStringLiteral("127.0.0.1"));
    type(editor, QStringLiteral("port"), serverPort);
    clickConnect(editor);

    // A line typed in one terminal arrives in the other.
    TerminalPane *clientPane = window.terminal(client);
    TerminalPane *serverPane = window.terminal(server);
    QTRY_VERIFY_WITH_TIMEOUT(clientPane->input()->isEnabled(), 5000);
    enter(clientPane, QStringLiteral("hello from the client"));
    QTRY_VERIFY_WITH_TIMEOUT(serverPane->shownText().contains(QStringLiteral("hello from the client\n")), 5000);
    // Whose bytes they are; the state, tab and tree name the port in use.
    QVERIFY(serverPane->shownText().contains(QStringLiteral("-- client 1 (127.0.0.1:")));
    QTRY_COMPARE_WITH_TIMEOUT(clientPane->stateText(), QStringLiteral("open"), 1000);
    QCOMPARE(serverPane->stateText(), QStringLiteral("listening on port %1, 1 client").arg(serverPort));
    QCOMPARE(window.tabText(server), QStringLiteral("tcpServer 127.0.0.1:%1").arg(serverPort));
    QVERIFY(window.tree()->currentItem()->text(0).startsWith(QStringLiteral("127.0.0.1:%1").arg(serverPort)));

    // A file larger than the backlog the port may hold: a line typed while it
    // is sent is refused (it would land inside the file), a send can be
    // cancelled, and a second send goes through whole.
    QTemporaryFile file;
    const QByteArray lines = QByteArray("a line of the file to send\n").repeated(60000);
    QVERIFY(file.open() && file.write(lines) == lines.size() && file.flush());
    QSignalSpy finished(clientPane->endpoint(), &TerminalEndpoint::fileFinished);
    QVERIFY(clientPane->sendFile(file.fileName()));
    clientPane->cancelFile();
    QVERIFY(finished.count() == 1 && finished.takeFirst().first().toString().contains(QStringLiteral("cancelled")));
    QVERIFY(clientPane->sendFile(file.fileName()));
    enter(clientPane, QStringLiteral("never inside the file"));
    QCOMPARE(clientPane->input()->text(), QStringLiteral("never inside the file"));
    QVERIFY(finished.wait(60000) && finished.first().first().toString().isEmpty());
    const qint64 cancelledPart = clientPane->sent() - qint64(sizeof("hello from the client")) - lines.size();
    QTRY_COMPARE_WITH_TIMEOUT(serverPane->received(), qint64(sizeof("hello from the client")) + lines.size() + cancelledPart, 60000);
    QVERIFY(!serverPane->shownText().contains(QStringLiteral("never")));

    // A peer that stops reading holds the file back: the terminal reads the
    // file only while the port's backlog has room.
    QTcpServer stalled;
    QVERIFY(stalled.listen(QHostAddress::LocalHost));
    connect(&stalled, &QTcpServer::newConnection, [&] { stalled.nextPendingConnection()->setReadBufferSize(4096); });
    Plugin_Com_Port *slow = window.addPort(QStringLiteral("tcpClient"));
    type(editor, QStringLiteral("address"), QStringLiteral("127.0.0.1"));
    type(editor, QStringLiteral("port"), QString::number(stalled.serverPort()));
    clickConnect(editor);
    QTemporaryFile big;
    QVERIFY(big.open() && big.resize(qint64(64) << 20));
    QTRY_VERIFY_WITH_TIMEOUT(window.terminal(slow)->input()->isEnabled(), 5000);
    QVERIFY(window.terminal(slow)->sendFile(big.fileName()));
    QVERIFY(!QTest::qWaitFor([&] { return window.terminal(slow)->endpoint()->fileSent() > (qint64(24) << 20); }, 1500));
    window.workbench()->removePort(slow);

    // Closing unlocks the records at once; the client sees a plain close.
    window.tree()->select(server);
    clickConnect(editor);
    QVERIFY(!server->opened());
    QCOMPARE(enabledRecords(editor, server), unlocked);
    QTRY_COMPARE_WITH_TIMEOUT(clientPane->stateText(), QStringLiteral("closed by the peer"), 5000);
    QVERIFY(window.logPane()->shownLines().contains(QStringLiteral("info: The server closed the connection.")));
    QVERIFY(!window.logPane()->shownLines().contains(QStringLiteral("critical: The server closed the connection.")));
    // Qt's notes about its platform stay out of the pane; other messages do not.
    const QLoggingCategory platform("qt.qpa.pcomtest");
    qCWarning(platform) << "platform note";
    qWarning("This plugin does not support propagateSizeHints()");
    qWarning("a line of the links");
    QCOMPARE(window.logPane()->shownLines().filter(QRegularExpression(QStringLiteral("platform note|propagate|of the links"))),
             QStringList(QStringLiteral("warning: a line of the links")));
    // Every filter button reads as enabled: its text stands out from the
    // button (the WCAG contrast of 4.5:1), as a disabled one's does not.
    const auto luminance = [](const QColor &c) {
        const auto lin = [](qreal v) { return v <= 0.03928 ? v / 12.92 : qPow((v + 0.055) / 1.055, 2.4); };
        return 0.2126 * lin(c.redF()) + 0.7152 * lin(c.greenF()) + 0.0722 * lin(c.blueF());
    };
    for (const QToolButton *kind : window.logPane()->findChildren<QToolButton *>()) {
        const qreal text = luminance(kind->palette().color(QPalette::ButtonText));
        const qreal back = luminance(kind->palette().color(QPalette::Button));
        QVERIFY2((qMax(text, back) + 0.05) / (qMin(text, back) + 0.05) >= 4.5, qPrintable(kind->text()));
    }
    // A line for a server without clients stays, and says why.
    clickConnect(editor);
    QTRY_VERIFY_WITH_TIMEOUT(serverPane->input()->isEnabled(), 5000);
    enter(serverPane, QStringLiteral("nobody hears this"));
    QCOMPARE(serverPane->input()->text(), QStringLiteral("nobody hears this"));
    QVERIFY(serverPane->statusText().contains(QStringLiteral("No client")));

    // Two CAN ports on a virtualcan bus of this test's own: a cansend line
    // typed in one terminal is a row of the other's frame table.
    const QString bus = QStringLiteral("tcp://127.0.0.1:%1/can0").arg(LoopbackPeer::freePort());
    QList<TerminalPane *> can;
    for (int i = 0; i < 2; ++i) {
        can.append(window.terminal(window.addPort(QStringLiteral("canBus"))));
        type(editor, QStringLiteral("interface"), QStringLiteral("virtualcan"));
        type(editor, QStringLiteral("device"), bus);
        clickConnect(editor);
    }
    // The relay drops frames until it knows the receiver: send until one arrives.
    const QString row = QStringLiteral("\t123\t\t4\tDE AD BE EF");
    const auto arrived = [&] { return can[1]->shownText().contains(row); };
    for (int sent = 0; !QTest::qWaitFor(arrived, 100) && sent < 50; ++sent)
        enter(can[0], QStringLiteral("123#DEADBEEF"));
    QVERIFY2(arrived(), qPrintable(can[1]->shownText()));

    // A burst of extended frames and remote requests arrives with its flags,
    // every frame shown or counted as left out.
    const auto *table = can[1]->findChild<CanFrameTable *>();
    const int rowsBefore = table->rowCount();
    const int burst = 3000;
    for (int i = 0; i < burst; ++i)
        enter(can[0], i % 2 ? QStringLiteral("00000456#11") : QStringLiteral("321#R4"));
    const auto frameRows = [&] { return can[1]->shownText().count(QStringLiteral("\t00000456\tEXT\t1\t11"))
                                        + can[1]->shownText().count(QStringLiteral("\t321\tRTR\t4\t")); };
    QTRY_COMPARE_WITH_TIMEOUT(frameRows() + table->framesLeftOut(), qint64(burst), 10000);
    QCOMPARE(table->framesLeftOut() > 0, table->rowCount() - rowsBefore < burst);

    // Sent frames are marked; the identifier view counts and marks changed
    // bytes; a filter keeps others out of both; a bad line's message goes
    // with the next good send.
    QVERIFY(can[0]->shownText().contains(QStringLiteral("\t321\tTX RTR\t4\t")));
    QTRY_VERIFY_WITH_TIMEOUT(can[1]->idView()->rowText(QStringLiteral("00000456")).startsWith(QStringLiteral("00000456\t1500\t")), 5000);
    QVERIFY(can[1]->setCanFilters(QStringLiteral("700:700")));
    QVERIFY(!can[1]->setCanFilters(QStringLiteral("zz")) && !can[1]->statusText().isEmpty());
    enter(can[0], QStringLiteral("123#zz"));
    QVERIFY(!can[0]->statusText().isEmpty() && !can[0]->input()->styleSheet().isEmpty());
    enter(can[0], QStringLiteral("123#11223344"));
    QVERIFY(can[0]->statusText().isEmpty() && can[0]->input()->styleSheet().isEmpty() && can[0]->stateText() == QLatin1String("open"));
    enter(can[0], QStringLiteral("700#1122"));
    enter(can[0], QStringLiteral("700#1133"));
    QTRY_COMPARE_WITH_TIMEOUT(can[1]->idView()->rowText(QStringLiteral("700")).section(QLatin1Char('\t'), 4), QStringLiteral("11 [33]"), 5000);
    QVERIFY(can[1]->idView()->rowText(QStringLiteral("123")).startsWith(QStringLiteral("123\t")));
    QVERIFY(!can[1]->shownText().contains(QStringLiteral("11 22 33 44")));
    // Periodic frames run until stopped.
    const int periodic = can[0]->periodic()->addFrame(QStringLiteral("7FF#01"), 10, true);
    QTRY_VERIFY_WITH_TIMEOUT(can[1]->idView()->rowText(QStringLiteral("7FF")).section(QLatin1Char('\t'), 1, 1).toInt() >= 3, 5000);
    can[0]->periodic()->setRunning(periodic, false);
    // A candump log is sent again, its frames marked as sent.
    QTemporaryFile replayed;
    QVERIFY(replayed.open() && replayed.write("(100.000000) can0 7AB#01\n(100.050000) can0 00000456#AABB\n") > 0 && replayed.flush());
    QVERIFY(can[0]->replayLog(replayed.fileName()) && !can[0]->replayLog(QStringLiteral("/no/such.log")));
    QTRY_VERIFY_WITH_TIMEOUT(!can[0]->isReplaying(), 5000);
    QTRY_VERIFY_WITH_TIMEOUT(can[0]->shownText().contains(QStringLiteral("\t7AB\tTX\t1\t01\n"))
                             && can[0]->shownText().endsWith(QStringLiteral("\t00000456\tTX EXT\t2\tAA BB")), 2000);
    QTRY_VERIFY_WITH_TIMEOUT(can[1]->idView()->rowText(QStringLiteral("7AB")).startsWith(QStringLiteral("7AB\t1\t")), 5000);

    // The bus line: virtualcan tells no state; the test back-end's does, and
    // its error frames are counted by class.
    QVERIFY2(can[1]->busHealth()->text().startsWith(QStringLiteral("Bus: unknown")), qPrintable(can[1]->busHealth()->text()));
    qApp->setProperty(TestCan::busStatus, int(QCanBusDevice::CanBusStatus::Warning));
    TerminalPane *test = window.terminal(window.addPort(QStringLiteral("canBus")));
    type(editor, QStringLiteral("interface"), QLatin1String(TestCan::pluginKey));
    type(editor, QStringLiteral("device"), QStringLiteral("test0"));
    clickConnect(editor);
    QObject *device = qApp->property(TestCan::lastDevice).value<QObject *>();
    QVERIFY(device && QMetaObject::invokeMethod(device, "injectFrame", Q_ARG(int, QCanBusFrame::ErrorFrame), Q_ARG(uint, 0),
                                                Q_ARG(QByteArray, QByteArray(8, 0))));
    QTRY_COMPARE_WITH_TIMEOUT(test->busHealth()->errorFrames(QCanBusFrame::BusOffError), qint64(1), 5000);
    QTRY_VERIFY2_WITH_TIMEOUT(test->busHealth()->text().contains(QStringLiteral("Bus: warning")), qPrintable(test->busHealth()->text()), 3000);
    QVERIFY(test->busHealth()->text().endsWith(QStringLiteral("error frames: bus off 1")));
}

// What the editor writes, or refuses (an empty read-back), as typed.
void tst_Gui::editorRules_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("record");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("readBack");
    QTest::newRow("baud rate word") << "com" << "baudrate" << "fast" << "";
    QTest::newRow("client port 0") << "tcpClient" << "port" << "0" << "";
    QTest::newRow("udp port 0") << "udpClient" << "port" << "0" << "";
    QTest::newRow("server port 0") << "tcpServer" << "port" << "0" << "0";
    QTest::newRow("host name") << "tcpClient" << "address" << "localhost" << "127.0.0.1";
    QTest::newRow("ipv6") << "tcpClient" << "address" << "::1" << "::1";
    QTest::newRow("bad address") << "tcpClient" << "address" << "no such host.." << "";
}

void tst_Gui::editorRules()
{
    QFETCH(QString, kind);
    QFETCH(QString, record);
    QFETCH(QString, text);
    QFETCH(QString, readBack);
    MainWindow window(m_host.plugin());
    Plugin_Com_Port *port = window.addPort(kind);
    const QString before = port->getTavlinProperty(record).toString();
    type(window.editor(), record, text);
    QCOMPARE(port->getTavlinProperty(record).toString(), readBack.isEmpty() ? before : readBack);
    QCOMPARE(window.editor()->message().contains(QStringLiteral("is not written")), readBack.isEmpty());
}

// Two UDP ports talking: datagram marks, echo, history, views shown again
// the new way, search, clearing; then the window's panes and help pages.
void tst_Gui::terminalViewsAndLayout()
{
    MainWindow window(m_host.plugin());
    window.resize(1280, 800);
    window.show();
    const quint16 ports[2] = {LoopbackPeer::freePort(), LoopbackPeer::freePort()};
    QList<TerminalPane *> udp;
    for (int i = 0; i < 2; ++i) {
        Plugin_Com_Port *port = NetClientTestUtil::configured(window.addPort(QStringLiteral("udpClient")),
            {{"bind-address", QStringLiteral("127.0.0.1")}, {"bind-port", ports[i]}, {"port", ports[1 - i]}});
        QVERIFY(port->setTavlinProperty(connectName, true).toBool());
        udp.append(window.terminal(port));
    }
    udp[0]->applySettings({{"echo", true}});
    enter(udp[0], QStringLiteral("one"));
    enter(udp[0], QStringLiteral("two"));
    QTRY_COMPARE_WITH_TIMEOUT(udp[1]->shownText(), QStringLiteral("-- datagram, 4 bytes\none\n-- datagram, 4 bytes\ntwo\n"), 5000);
    QTRY_COMPARE_WITH_TIMEOUT(udp[0]->shownText(), QStringLiteral(">> one\n>> two\n"), 5000);
    // A datagram after a burst still comes through.
    enter(udp[0], QStringLiteral("three"));
    QTRY_COMPARE_WITH_TIMEOUT(udp[1]->received(), qint64(14), 5000);
    QTest::keyClick(udp[0]->input(), Qt::Key_Up);
    QTest::keyClick(udp[0]->input(), Qt::Key_Up);
    QCOMPARE(udp[0]->input()->text(), QStringLiteral("two"));
    // Macros, text with escapes or hex; then a slow device's pace: one byte
    // a write, so one datagram each.
    QSignalSpy sent(udp[0]->endpoint(), &TerminalEndpoint::sent);
    QString why;
    QVERIFY(!udp[0]->macros()->addMacro(QStringLiteral("odd"), QStringLiteral("hex: 0"), &why));
    QVERIFY(udp[0]->macros()->addMacro(QStringLiteral("at"), QStringLiteral("AT\\r"), &why));
    QVERIFY(udp[0]->macros()->addMacro(QStringLiteral("raw"), QStringLiteral("hex: 01 ff"), &why));
    udp[0]->macros()->trigger(0);
    udp[0]->macros()->trigger(1);
    QCOMPARE(sent, (QList<QVariantList>{{qint64(3)}, {qint64(2)}}));
    sent.clear();
    udp[0]->applySettings({{"charDelay", 5}, {"macros", udp[0]->settings().value("macros")}});
    QCOMPARE(udp[0]->macros()->count(), 2);
    enter(udp[0], QStringLiteral("ab"));
    QTRY_COMPARE_WITH_TIMEOUT(sent.count(), 3, 5000);
    QCOMPARE(sent, (QList<QVariantList>{{qint64(1)}, {qint64(1)}, {qint64(1)}}));
    udp[1]->applySettings({{"hex", true}, {"timestamps", true}});
    const QRegularExpression stamped(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d\\.\\d{3} 00000000  74 77 6f 0a "), QRegularExpression::MultilineOption);
    QVERIFY2(udp[1]->shownText().contains(stamped), qPrintable(udp[1]->shownText()));
    QVERIFY(udp[1]->findNext(QStringLiteral("6f 6e")) && !udp[1]->findNext(QStringLiteral("absent")));
    udp[1]->clearView();
    QVERIFY(udp[1]->shownText().isEmpty() && udp[1]->received() == 0);

    // A long message neither widens the terminals nor squeezes the panes.
    auto *help = window.findChild<QDockWidget *>(QStringLiteral("Help"));
    const int helpWidth = help->width();
    const int middle = window.centralWidget()->width();
    QVERIFY(!udp[0]->sendFile(QStringLiteral("/no/such/") + QString(400, QLatin1Char('x'))));
    QVERIFY(!QTest::qWaitFor([&] { return window.centralWidget()->width() != middle; }, 200));
    // Shrunk and grown again, the panes get their sizes back.
    window.resize(400, 300);
    QTRY_VERIFY_WITH_TIMEOUT(window.centralWidget()->width() < middle, 2000);
    window.resize(1280, 800);
    QTRY_COMPARE_WITH_TIMEOUT(window.centralWidget()->width(), middle, 2000);
    QTRY_VERIFY_WITH_TIMEOUT(qAbs(help->width() - helpWidth) <= 2, 2000);
    // The View menu brings a closed pane back.
    QAction *helpAction = help->toggleViewAction();
    QVERIFY(window.viewMenu()->actions().contains(helpAction));
    help->close();
    QVERIFY(!helpAction->isChecked());
    helpAction->trigger();
    QVERIFY(help->isVisible());

    // The help follows the host version, and says why it is empty.
    Plugin_Com_Port *can = window.addPort(QStringLiteral("canBus"));
    QVERIFY(window.tabText(can).endsWith(QStringLiteral(" (no device)")));
    window.tree()->select(window.workbench()->device(QStringLiteral("tcpServer")));
    const QString newest = window.help()->toPlainText();
    window.editor()->setHostVersion(QStringLiteral("2.10"));
    QVERIFY(window.help()->toPlainText() != newest && window.help()->toPlainText().contains(QStringLiteral("2.10")));
    window.showToolHelp();
    QVERIFY(window.help()->toPlainText().startsWith(QStringLiteral("pcom-gui")));
}

void tst_Gui::workspaceRoundTrip()
{
    QTemporaryDir dir;
    PseudoTerminal pty;
    QVERIFY(pty.isValid());
    MainWindow window(m_host.plugin());
    Workbench *bench = window.workbench();
    window.addPort(QStringLiteral("tcpServer"))->setTavlinProperty(QStringLiteral("port"), 0);
    Plugin_Com_Port *udp = NetClientTestUtil::configured(window.addPort(QStringLiteral("udpClient")),
        {{"bind-address", QStringLiteral("127.0.0.1")}, {"bind-port", 0}, {"port", 40001}});
    window.addPort(QStringLiteral("tcpClient"))->setTavlinProperty(QStringLiteral("port"), 5002);
    Plugin_Com_Port *com = window.addPort(QStringLiteral("com"));
    com->setTavlinProperty(QStringLiteral("device"), pty.slavePath());
    QVERIFY(udp->setTavlinProperty(connectName, true).toBool() && com->setTavlinProperty(connectName, true).toBool());
    window.terminal(udp)->applySettings({{"hex", true}, {"timestamps", true}, {"lineEnding", 2}, {"echo", true},
                                         {"logFile", dir.filePath(QStringLiteral("udp.log"))}});
    window.editor()->setHostVersion(QStringLiteral("2.12"));
    QVERIFY(window.isModified());
    const QList<QVariantMap> before = valuesOf(bench);
    const QJsonObject terminal = window.terminal(udp)->settings();

    // Saved as "ws1", it is ws1.json, which the open dialog's filter shows.
    QVERIFY(window.saveWorkspace(dir.filePath(QStringLiteral("ws1"))) && !window.isModified());
    bench->removeAllPorts();
    window.editor()->setHostVersion(QStringLiteral("2.20"));
    QVERIFY(window.openWorkspace(dir.filePath(QStringLiteral("ws1.json")), false));
    QCOMPARE(valuesOf(bench), before);
    QCOMPARE(window.terminal(bench->ports().at(1))->settings(), terminal);
    QCOMPARE(window.editor()->hostVersion(), QStringLiteral("2.12"));
    // The pseudo-terminal, never listed among the devices, opens without a warning.
    QVERIFY(bench->ports().at(3)->opened());
    QVERIFY(window.findChildren<QMessageBox *>().isEmpty());

    // The serial line's settings: the value in force is shown, a refusal says why.
    SerialSettingsPanel *panel = window.terminal(bench->ports().at(3))->serialPanel();
    const PCom_SerialLine *line = PluginHost::face<PCom_SerialLine>(bench->ports().at(3));
    for (QComboBox *box : {panel->dataBits(), panel->parity(), panel->stopBits()}) {
        box->setCurrentIndex(box->count() - 2);
        const QString asked = box->currentText();
        emit box->activated(box->currentIndex());
        const QString inForce = box == panel->dataBits() ? QString::number(line->dataBits())
                                : box == panel->parity() ? line->parity() : line->stopBits();
        QCOMPARE(box->currentText(), inForce);
        QCOMPARE(panel->message().isEmpty(), inForce == asked);
    }
}

// A workspace given on the command line opens its CAN port unattended and
// logs a burst of another program's frames exactly, in candump's log
// format, until SIGTERM ends it in order.
void tst_Gui::unattendedCanLog()
{
    QTemporaryDir dir;
    const QString device = QStringLiteral("tcp://127.0.0.1:%1/can0").arg(LoopbackPeer::freePort());
    const QString log = dir.filePath(QStringLiteral("bus.log"));
    QFile workspace(dir.filePath(QStringLiteral("can.json")));
    QVERIFY(workspace.open(QIODevice::WriteOnly));
    workspace.write(QJsonDocument(QJsonObject{{"format", "pcom-gui workspace"}, {"ports", QJsonArray{QJsonObject{
        {"type", "canBus"}, {"connect", true}, {"terminal", QJsonObject{{"logFile", log}}},
        {"properties", QJsonObject{{"interface", "virtualcan"}, {"device", device}}}}}}}).toJson());
    workspace.close();
    PcomProcess relay;
    relay.start({"canbus-server", device.section(QLatin1Char(':'), 2).section(QLatin1Char('/'), 0, 0)});
    QVERIFY2(relay.waitForStderr("relay runs on"), relay.err().constData());
    QProcess gui;
    gui.setProcessChannelMode(QProcess::ForwardedOutputChannel);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    gui.setProcessEnvironment(env);
    gui.start(QStringLiteral(PCOM_GUI_BINARY), {QStringLiteral("--plugin"), QStringLiteral(PCOM_PLUGIN_FILE), workspace.fileName()});
    QByteArray said;
    QVERIFY(QTest::qWaitFor([&] { said += gui.readAllStandardError(); return said.contains("socket connected"); }, 10000));

    QByteArray lines;
    QList<QByteArray> expected;
    for (int i = 0; i < 3000; ++i) {
        expected.append(i % 3 ? QByteArray::number(0x10000000 + i, 16).toUpper() + "#" + QByteArray::number(i % 256, 16).rightJustified(2, '0').toUpper()
                              : QByteArrayLiteral("321#R4"));
        lines += expected.last() + '\n';
    }
    PcomProcess sender;
    sender.start({"open", "canBus", "--can-plugin", "virtualcan", "device=" + device, "-w", "0"});
    // Frames written before its socket connects would not reach the bus.
    QVERIFY(sender.waitForStderr("socket connected"));
    // Its input stays open until the end: a pcom that ends may not have
    // handed its socket's last frames to the relay yet.
    sender.write(lines);
    QList<QByteArray> got;
    QByteArray first;
    const auto records = [&] {
        QFile file(log);
        got.clear();
        for (const QByteArray &line : (file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray()).split('\n'))
            if (!line.isEmpty())
                got.append(line.split(' ').value(2));
        first = file.seek(0) ? file.readLine().trimmed() : QByteArray();
        return got.size();
    };
    // Written out every second while it runs, and whole at the end.
    QTRY_COMPARE_WITH_TIMEOUT(records(), 3000, 15000);
    gui.terminate();
    QVERIFY(gui.waitForFinished(10000) && gui.exitStatus() == QProcess::NormalExit && gui.exitCode() == 0);
    QCOMPARE(records(), 3000);
    QCOMPARE(got, expected);
    QVERIFY2(QRegularExpression(QStringLiteral("^\\(\\d{10}\\.\\d{6}\\) can0 321#R4$")).match(QString::fromLatin1(first)).hasMatch(),
             first.constData());
    sender.closeStdin();
    QVERIFY(sender.waitForExit(30000) && sender.exitCode() == 0);
    QCOMPARE(relay.stop(), 0);
}

QTEST_MAIN(tst_Gui)
#include "tst_gui.moc"
