#include "gui/DeviceTree.h"
#include "gui/CanFrameTable.h"
#include "gui/LogPane.h"
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

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QtTest>

// pcom-gui's window driven as a user would: through the tree, the property
// editor and the terminals, with the plug-in loaded from its file.
class tst_Gui : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void linksThroughEditorAndTerminals();
    void workspaceRoundTrip();

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

    // Closing unlocks the records at once.
    window.tree()->select(server);
    clickConnect(editor);
    QVERIFY(!server->opened());
    QCOMPARE(enabledRecords(editor, server), unlocked);

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
}

void tst_Gui::workspaceRoundTrip()
{
    QTemporaryDir dir;
    MainWindow window(m_host.plugin());
    Workbench *bench = window.workbench();
    window.addPort(QStringLiteral("tcpServer"))->setTavlinProperty(QStringLiteral("port"), 0);
    Plugin_Com_Port *udp = NetClientTestUtil::configured(window.addPort(QStringLiteral("udpClient")),
        {{"bind-address", QStringLiteral("127.0.0.1")}, {"bind-port", 0}, {"port", 40001}});
    window.addPort(QStringLiteral("tcpClient"))->setTavlinProperty(QStringLiteral("port"), 5002);
    QVERIFY(udp->setTavlinProperty(connectName, true).toBool());
    const QList<QVariantMap> before = valuesOf(bench);

    const QString saved = dir.filePath(QStringLiteral("saved.json"));
    QVERIFY(window.saveWorkspace(saved));
    bench->removeAllPorts();
    QVERIFY(window.openWorkspace(saved, false));
    QCOMPARE(valuesOf(bench), before);
    QVERIFY(window.findChildren<QMessageBox *>().isEmpty());
}

QTEST_MAIN(tst_Gui)
#include "tst_gui.moc"
