#include "PcomProcess.h"
#include "PseudoTerminal.h"

#include <QtTest>

// What pcom does with wrong command lines: a one-line message and exit
// status 2 before anything is opened; and the commands that only read.
class tst_CliBadInput : public QObject
{
    Q_OBJECT
private slots:
    void rejected_data();
    void rejected();
    void valuesOutsideOptionsThatThePortTakes();
    void helpOnEveryCommand();
    void devicesAndProps();
    void helpPages();
};

void tst_CliBadInput::rejected_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("message");

    auto row = [](const char *name, const QStringList &args, const char *message) {
        QTest::newRow(name) << args << QString::fromLatin1(message);
    };
    row("unknown type", {"open", "modem"},
        "unknown port type 'modem'; types: com, canBus, tcpServer, tcpClient, udpClient");
    row("type in wrong case", {"open", "COM"}, "unknown port type 'COM'");
    row("no type", {"open"}, "missing TYPE");
    row("unknown property", {"open", "com", "speed=9600"},
        "unknown property 'speed' of a com port; settable: device, baudrate");
    row("no property name", {"open", "com", "=9600"}, "names no property");
    row("missing value", {"open", "com", "baudrate"}, "missing value for 'baudrate'");
    row("read-only plugin", {"open", "com", "plugin=PCom_Core::tcpClient"}, "'plugin' of a com port is read-only");
    row("read-only interface", {"open", "com", "interface=CAN"}, "'interface' of a com port is read-only");
    row("connect on the command line", {"open", "com", "connect=true"}, "'connect' is not set on the command line");
    row("value the port refuses", {"open", "com", "baudrate=fast"},
        "value 'fast' for 'baudrate' rejected: it is none of the options (");
    row("problem after a good setting", {"open", "com", "baudrate=9600", "parity=none"}, "unknown property 'parity'");
    row("bad wait", {"open", "com", "-w", "soon"}, "-w takes a number of seconds, not 'soon'");
    row("negative wait", {"open", "com", "-w", "-1"}, "-w takes a number of seconds");
    row("can plugin on serial", {"open", "com", "--can-plugin", "virtualcan"}, "--can-plugin applies to CAN ports only");
    row("unknown option", {"open", "com", "--frobnicate"}, "Unknown option 'frobnicate'");
    row("unknown command", {"connect", "com"}, "unknown command 'connect'");
    row("no plug-in", {"--plugin", "/nonexistent/libPCom_Core.so", "devices"}, "cannot load the plug-in");
    row("not a plug-in", {"--plugin", PCOM_CLI_BINARY, "devices"}, "cannot load the plug-in");
    row("props unknown type", {"props", "udp"}, "unknown port type 'udp'");
    row("props bad version", {"props", "com", "--host-version", "two"}, "'two' is no host version");
    row("props two types", {"props", "com", "com"}, "props takes one TYPE");
    row("devices with argument", {"devices", "com"}, "devices takes no arguments");
    row("bridge without separator", {"bridge", "com", "baudrate=9600"}, "bridge needs two ports");
    row("bridge without second type", {"bridge", "com", "--"}, "bridge needs two ports");
    row("bridge bad stats", {"bridge", "com", "--stats", "0", "--", "com"}, "--stats takes a number of seconds");
    row("bridge bad second property", {"bridge", "com", "--", "com", "speed=1"}, "unknown property 'speed'");
    row("port out of range", {"open", "tcpClient", "address=127.0.0.1", "port=70000"},
        "value '70000' for 'port' rejected: expected an integer from 0 to 65535");
    row("port not a number", {"open", "tcpServer", "port=http"}, "value 'http' for 'port' rejected");
    row("host name for an address", {"open", "tcpClient", "address=localhost"},
        "value 'localhost' for 'address' rejected: expected an IPv4 address");
    row("short bind address", {"open", "udpClient", "bind-address=1.2.3"}, "value '1.2.3' for 'bind-address' rejected");
    row("server address out of range", {"open", "tcpServer", "address=256.0.0.1"}, "for 'address' rejected");
    row("unknown server property", {"open", "tcpServer", "host=1.2.3.4"},
        "unknown property 'host' of a tcpServer port; settable: port, address");
    row("hex on a CAN port", {"open", "canBus", "--hex"}, "--hex applies to byte streams");
    row("read-only plugin of CAN", {"open", "canBus", "plugin=x"}, "'plugin' of a canBus port is read-only");
    row("bridge second port bad", {"bridge", "tcpServer", "port=0", "--", "tcpClient", "port=99999"},
        "value '99999' for 'port' rejected");
    row("doc unknown type", {"doc", "modem"}, "unknown port type 'modem'");
    row("doc bad version", {"doc", "com", "--host-version", "x.y"}, "'x.y' is no host version");
    row("doc unwritable output", {"doc", "com", "-o", "/nonexistent-dir/page.html"}, "cannot write");
}

void tst_CliBadInput::rejected()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, message);
    QScopedPointer<PcomProcess> pcom(PcomProcess::run(arguments));
    QCOMPARE(pcom->exitCode(), 2);
    const QList<QByteArray> lines = pcom->err().split('\n');
    bool found = false;
    for (const QByteArray &line : lines)
        found = found || (line.startsWith("error: ") && line.contains(message.toUtf8()));
    QVERIFY2(found, pcom->err().constData());
    QVERIFY(pcom->out().isEmpty());
    // Nothing was opened.
    QVERIFY(!pcom->err().contains("setTavlinProperty(connect"));
    QVERIFY(!pcom->err().contains("pcom: opened"));
    QVERIFY(!pcom->err().contains("Server running"));
}

// A serial device path and a custom baud rate are no options, but the port
// takes them.
void tst_CliBadInput::valuesOutsideOptionsThatThePortTakes()
{
    PseudoTerminal pty;
    QVERIFY(pty.isValid());
    QScopedPointer<PcomProcess> pcom(PcomProcess::run({QStringLiteral("open"), QStringLiteral("com"),
                                                        QStringLiteral("baudrate=12345"),
                                                        QStringLiteral("device=") + pty.slavePath(),
                                                        QStringLiteral("-w"), QStringLiteral("0")},
                                                       "x"));
    QCOMPARE(pcom->exitCode(), 0);
    QVERIFY2(pcom->err().contains("pcom: opened the com port"), pcom->err().constData());
    QCOMPARE(pty.readMaster(1), QByteArray("x"));
}

void tst_CliBadInput::helpOnEveryCommand()
{
    const QList<QStringList> commands{{"--help"}, {"help"}, {"devices", "--help"}, {"props", "--help"}, {"doc", "--help"},
                                      {"open", "--help"}, {"open", "com", "-h"}, {"bridge", "--help"}};
    for (const QStringList &command : commands) {
        QScopedPointer<PcomProcess> pcom(PcomProcess::run(command));
        QCOMPARE(pcom->exitCode(), 0);
        QVERIFY2(pcom->out().contains("Usage: "), pcom->out().constData());
        if (command.first() != QLatin1String("--help") && command.first() != QLatin1String("help"))
            QVERIFY2(pcom->out().contains(command.first().toUtf8()), pcom->out().constData());
    }
    QScopedPointer<PcomProcess> open(PcomProcess::run({"open", "--help"}));
    QVERIFY(open->out().contains("--can-plugin"));
    QVERIFY(open->out().contains("--hex"));
    QVERIFY(open->out().contains("-w, --wait"));
    QScopedPointer<PcomProcess> bridge(PcomProcess::run({"bridge", "--help"}));
    QVERIFY(bridge->out().contains("--stats"));
}

void tst_CliBadInput::devicesAndProps()
{
    QScopedPointer<PcomProcess> bare(PcomProcess::run({}));
    QCOMPARE(bare->exitCode(), 0);
    QVERIFY2(bare->out().contains("\ncom: COM port\n"), bare->out().constData());
    QVERIFY(bare->out().contains("\ntcpServer: Ethernet TCP server\n"));
    QVERIFY(bare->out().contains("\nudpClient: Ethernet UDP client\n  brief:     "));
    QVERIFY(bare->out().contains("back-ends: "));
    QVERIFY(bare->out().contains("virtualcan"));
    QVERIFY(bare->out().contains("  available: "));
    QScopedPointer<PcomProcess> devices(PcomProcess::run({"devices", "--plugin", PCOM_PLUGIN_FILE}));
    QCOMPARE(devices->exitCode(), 0);
    QCOMPARE(devices->out(), bare->out());

    QScopedPointer<PcomProcess> props(PcomProcess::run({"props", "com"}));
    QCOMPARE(props->exitCode(), 0);
    const QByteArray text = props->out();
    QVERIFY(text.contains("\nbaudrate\n  type:        choice\n"));
    QVERIFY(text.contains("  options:     50, 75, 110,"));
    QVERIFY(text.contains("  description: COM port name (COM1, ...)\n"));
    QVERIFY(text.contains("\nplugin\n"));
    QVERIFY(text.contains("  value:       \"PCom_Core::com\"\n"));
    QVERIFY(text.contains("  versions:    up to 2.10\n"));

    QScopedPointer<PcomProcess> old(PcomProcess::run({"props", "com", "--host-version", "2.10"}));
    QCOMPARE(old->exitCode(), 0);
    QVERIFY(old->out().contains("\ninterface\n"));
    QVERIFY(!old->out().contains("\nplugin\n"));
    QScopedPointer<PcomProcess> recent(PcomProcess::run({"props", "com", "--host-version", "2.12"}));
    QVERIFY(!recent->out().contains("\ninterface\n"));
    QVERIFY(recent->out().contains("\nplugin\n"));
    QVERIFY(recent->out().contains("\nconnect\n"));
}

void tst_CliBadInput::helpPages()
{
    QScopedPointer<PcomProcess> com(PcomProcess::run({"doc", "com"}));
    QCOMPARE(com->exitCode(), 0);
    const QByteArray page = com->out();
    QVERIFY(page.startsWith("<!DOCTYPE html>"));
    QVERIFY(page.contains("<title>COM port</title>"));
    QVERIFY(page.contains("<td>baudrate</td>"));
    QVERIFY(page.contains("data:image/png;base64,"));
    // By default the newest host version that the records name: 2.12 here.
    QVERIFY(page.contains("<td>plugin</td>"));
    QVERIFY(!page.contains("<td>interface</td>"));

    QScopedPointer<PcomProcess> old(PcomProcess::run({"doc", "com", "--host-version", "2.10"}));
    QVERIFY(old->out().contains("<td>interface</td>"));
    QVERIFY(!old->out().contains("<td>plugin</td>"));

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString file = dir.filePath(QStringLiteral("com.html"));
    QScopedPointer<PcomProcess> saved(PcomProcess::run({"doc", "com", "-o", file}));
    QCOMPARE(saved->exitCode(), 0);
    QVERIFY(saved->out().isEmpty());
    QFile written(file);
    QVERIFY(written.open(QIODevice::ReadOnly));
    QCOMPARE(written.readAll(), page);

    for (const char *type : {"canBus", "tcpServer", "tcpClient", "udpClient"}) {
        QScopedPointer<PcomProcess> doc(PcomProcess::run({"doc", type}));
        QCOMPARE(doc->exitCode(), 0);
        QVERIFY2(doc->out().contains("<td>connect</td>"), type);
    }
    QScopedPointer<PcomProcess> can(PcomProcess::run({"doc", "canBus"}));
    QVERIFY(can->out().contains("<td>interface</td>"));
}

QTEST_GUILESS_MAIN(tst_CliBadInput)
#include "tst_cli_badinput.moc"
