#include "tests/support/PcomProcess.h"

#include <QTcpServer>
#include <QUdpSocket>
#include <QtTest>

// pcom runs that need no peer: a wrong command line (exit status 2, a
// one-line message, nothing opened), a port that does not open (1), and the
// commands that only read (0).
class tst_CliBadInput : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void answers_data();
    void answers();
    void docToFile();

private:
    // Loopback ports that a TCP listener and a UDP socket hold, and one
    // that nobody listens on.
    QTcpServer m_tcpTaken;
    QUdpSocket m_udpTaken;
    quint16 m_closed = 0;
};

void tst_CliBadInput::initTestCase()
{
    QVERIFY(m_tcpTaken.listen(QHostAddress::LocalHost));
    QVERIFY(m_udpTaken.bind(QHostAddress(QHostAddress::LocalHost), 0));
    QTcpServer probe;
    QVERIFY(probe.listen(QHostAddress::LocalHost));
    m_closed = probe.serverPort();
}

void tst_CliBadInput::answers_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    // Texts that standard output (exit 0) or standard error holds, and ones it must not.
    QTest::addColumn<QStringList>("present");
    QTest::addColumn<QStringList>("absent");
    const auto row = [](const char *name, const QStringList &arguments, int code, const QStringList &present,
                        const QStringList &absent = {}) {
        QTest::newRow(name) << arguments << code << present << absent;
    };
    row("unknown type", {"open", "modem"}, 2,
        {"unknown port type 'modem'; types: com, canBus, tcpServer, tcpClient, udpClient"});
    row("no type", {"open"}, 2, {"missing TYPE"});
    row("unknown property", {"open", "com", "speed=9600"}, 2,
        {"unknown property 'speed' of a com port; settable: device, baudrate"});
    row("no property name", {"open", "com", "=9600"}, 2, {"names no property"});
    row("missing value", {"open", "com", "baudrate"}, 2, {"missing value for 'baudrate'"});
    row("read-only", {"open", "com", "plugin=PCom_Core::tcpClient"}, 2, {"'plugin' of a com port is read-only"});
    row("connect", {"open", "com", "connect=true"}, 2, {"'connect' is not set on the command line"});
    row("value the port refuses", {"open", "com", "baudrate=fast"}, 2,
        {"value 'fast' for 'baudrate' rejected: it is none of the options ("});
    row("problem after a good setting", {"open", "com", "baudrate=9600", "parity=none"}, 2,
        {"unknown property 'parity'"});
    row("bad wait", {"open", "com", "-w", "soon"}, 2, {"-w takes a number of seconds, not 'soon'"});
    row("negative wait", {"open", "com", "-w", "-1"}, 2, {"-w takes a number of seconds, not '-1'"});
    row("can plugin on serial", {"open", "com", "--can-plugin", "virtualcan"}, 2,
        {"--can-plugin applies to CAN ports only"});
    row("hex on CAN", {"open", "canBus", "--hex"}, 2, {"--hex applies to byte streams"});
    row("unknown option", {"open", "com", "--frobnicate"}, 2, {"Unknown option 'frobnicate'"});
    row("unknown command", {"connect", "com"}, 2, {"unknown command 'connect'"});
    row("not a plug-in", {"--plugin", PCOM_CLI_BINARY, "devices"}, 2, {"cannot load the plug-in"});
    row("devices with argument", {"devices", "com"}, 2, {"devices takes no arguments"});
    row("props unknown type", {"props", "udp"}, 2, {"unknown port type 'udp'"});
    row("props bad version", {"props", "com", "--host-version", "two"}, 2, {"'two' is no host version"});
    row("props two types", {"props", "com", "com"}, 2, {"props takes one TYPE"});
    row("doc unknown type", {"doc", "modem"}, 2, {"unknown port type 'modem'"});
    row("doc bad version", {"doc", "com", "--host-version", "x.y"}, 2, {"'x.y' is no host version"});
    row("doc unwritable output", {"doc", "com", "-o", "/nonexistent-dir/page.html"}, 2, {"cannot write"});
    row("bridge without separator", {"bridge", "com", "baudrate=9600"}, 2, {"bridge needs two ports"});
    row("bridge without second type", {"bridge", "com", "--"}, 2, {"bridge needs two ports"});
    row("bridge bad stats", {"bridge", "com", "--stats", "0", "--", "com"}, 2, {"--stats takes a number of seconds"});
    row("bridge bad hold", {"bridge", "com", "--", "com", "--hold", "-1"}, 2, {"--hold takes a byte count from 0 to "});
    row("rfc2217 without com", {"bridge", "tcpClient", "--", "tcpServer", "--rfc2217"}, 2,
        {"--rfc2217 needs a com port on one side and a tcpServer port on the other"});
    row("bridge bad second port", {"bridge", "com", "--", "tcpClient", "port=99999"}, 2,
        {"value '99999' for 'port' rejected"});
    row("port out of range", {"open", "tcpServer", "port=70000"}, 2,
        {"value '70000' for 'port' rejected: expected an integer from 0 to 65535"});
    row("value holding '='", {"open", "tcpClient", "address=1.2.3.4=5"}, 2, {"value '1.2.3.4=5' for 'address'"});
    row("no address", {"open", "tcpClient", "address=any*", "port=1"}, 2,
        {"value 'any*' for 'address' rejected: expected an IPv4 address such as 127.0.0.1, an IPv6 address or a "
         "host name\n"});
    row("no server address", {"open", "tcpServer", "address=[all]"}, 2,
        {"value '[all]' for 'address' rejected: expected an IPv4 address such as 127.0.0.1, an IPv6 address or a "
         "host name, or any\n"});
    row("client without port", {"open", "udpClient", "address=::1"}, 2,
        {"a udpClient port needs address= and port= (where its peer is)"});
    row("unknown server property", {"open", "tcpServer", "host=1.2.3.4"}, 2,
        {"unknown property 'host' of a tcpServer port; settable: port, address"});

    row("no serial line", {"open", "com", "device=/dev/pcom-no-such-line"}, 1, {"error: the com port did not open"});
    row("no CAN back-end", {"open", "canBus"}, 1,
        {"error: Error creating device ''", "error: the canBus port did not open"});
    row("server port in use", {"open", "tcpServer", "port=%TCP"}, 1,
        {"error: Unable to start the server: ", "error: the tcpServer port did not open"});
    row("UDP port in use",
        {"open", "udpClient", "bind-address=127.0.0.1", "bind-port=%UDP", "address=::1", "port=9"}, 1,
        {"critical: The following error occurred: ", "error: the udpClient port did not open"});
    row("refused", {"open", "tcpClient", "address=127.0.0.1", "port=%CLOSED"}, 1,
        {"critical: The connection was refused by the peer.",
         "error: the tcpClient link was lost: Connection refused"});

    row("help", {"--help"}, 0, {"Usage: "});
    row("help command", {"help"}, 0, {"Usage: "});
    row("open help", {"open", "--help"}, 0, {"Usage: ", "open", "--can-plugin", "--hex", "-w, --wait"});
    row("bridge help", {"bridge", "--help"}, 0, {"Usage: ", "bridge", "--stats"});
    // --help-all is help, not a server started; the usage names pcom.
    row("help-all", {"open", "tcpServer", "--help-all"}, 0, {"Usage: pcom [options] open TYPE", "--timeout"});
    row("devices of a named plug-in", {"devices", "--plugin", PCOM_PLUGIN_FILE}, 0, {"\ncom: COM port\n"});
    row("devices by default", {}, 0,
        {"\ncom: COM port\n", "\ntcpServer: Ethernet TCP server\n", "\nudpClient: Ethernet UDP client\n  brief:     ",
         "back-ends: ", "virtualcan", "  available: "});
    row("props", {"props", "com"}, 0,
        {"\nbaudrate\n  type:        choice\n", "  options:     50, 75, 110,", "  value:       \"PCom_Core::com\"\n",
         "  versions:    up to 2.10\n"});
    row("props of host 2.10", {"props", "com", "--host-version", "2.10"}, 0, {"\ninterface\n"}, {"\nplugin\n"});
    row("props of host 2.12", {"props", "com", "--host-version", "2.12"}, 0, {"\nplugin\n", "\nconnect\n"},
        {"\ninterface\n"});
    // By default the newest host version that the records name: 2.12 here.
    row("doc", {"doc", "com"}, 0,
        {"<!DOCTYPE html>", "<title>COM port</title>", "<td>baudrate</td>", "data:image/png;base64,",
         "<td>plugin</td>", "<h2>Using it with pcom</h2>", "<code>pcom open com device=/dev/ttyUSB0 baudrate=115200"},
        {"<td>interface</td>"});
    row("doc of host 2.10", {"doc", "com", "--host-version", "2.10"}, 0, {"<td>interface</td>"}, {"<td>plugin</td>"});
}

void tst_CliBadInput::answers()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QStringList, present);
    QFETCH(QStringList, absent);
    arguments.replaceInStrings(QStringLiteral("%TCP"), QString::number(m_tcpTaken.serverPort()));
    arguments.replaceInStrings(QStringLiteral("%UDP"), QString::number(m_udpTaken.localPort()));
    arguments.replaceInStrings(QStringLiteral("%CLOSED"), QString::number(m_closed));
    QScopedPointer<PcomProcess> pcom(PcomProcess::run(arguments));
    QCOMPARE(pcom->exitCode(), exitCode);
    const QByteArray text = exitCode == 0 ? pcom->out() : pcom->err();
    for (const QString &t : present)
        QVERIFY2(text.contains(t.toUtf8()), qPrintable(t + QStringLiteral(" in:\n") + text));
    for (const QString &t : absent)
        QVERIFY2(!text.contains(t.toUtf8()), qPrintable(t));
    if (exitCode != 2)
        return;
    // The message is on an error line; nothing was opened.
    const QByteArray err = pcom->err();
    const int at = err.indexOf(present.first().toUtf8());
    QVERIFY2(at >= 0 && err.mid(err.lastIndexOf('\n', at) + 1).startsWith("error: "), err.constData());
    QVERIFY(pcom->out().isEmpty());
    QVERIFY(!err.contains("setTavlinProperty(connect") && !err.contains("pcom: opened"));
}

// A page written to a file is the one printed.
void tst_CliBadInput::docToFile()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString file = dir.filePath(QStringLiteral("com.html"));
    QScopedPointer<PcomProcess> saved(PcomProcess::run({"doc", "com", "-o", file}));
    QCOMPARE(saved->exitCode(), 0);
    QVERIFY(saved->out().isEmpty());
    QFile written(file);
    QVERIFY(written.open(QIODevice::ReadOnly));
    QScopedPointer<PcomProcess> printed(PcomProcess::run({"doc", "com"}));
    QCOMPARE(written.readAll(), printed->out());
}

QTEST_GUILESS_MAIN(tst_CliBadInput)
#include "tst_cli_badinput.moc"
