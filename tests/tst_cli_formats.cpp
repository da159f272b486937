#include "cli/OutputFormat.h"
#include "cli/SerialOptions.h"
#include "cli/Shutdown.h"
#include "cli/Terminal.h"
#include "hostlib/CanLineParser.h"
#include "hostlib/DataCodec.h"
#include "hostlib/HexCodec.h"
#include "hostlib/NewlineMap.h"
#include "hostlib/PluginHost.h"
#include "hostlib/PortHandle.h"
#include "tests/support/LoopbackPeer.h"
#include "tests/support/PcomProcess.h"
#include "tests/support/PseudoTerminal.h"

#include <QScopeGuard>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

// pcom's text formats (CAN lines and filters, hex, standard input decoding)
// without a process, and the pcom runs that need no peer: a wrong command
// line or serve file (exit status 2, a one-line message, nothing opened), a
// port that does not open (1), the commands that only read (0), and signals
// while pcom ends.
class tst_CliFormats : public QObject
{
    Q_OBJECT
private slots:
    void canLines_data();
    void canLines();
    void canFilters();
    void hexAndInputDecoding();
    void linesStampedAndTyped();
    void serialLineCommands();
    void answers_data();
    void answers();
    void signalsWhileEnding();
};

// A line and the frame it gives, in the cansend and candump forms, or the
// reason the line is refused.
void tst_CliFormats::canLines_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QByteArray>("cansend");
    QTest::addColumn<QByteArray>("candump");
    QTest::addColumn<QString>("reason");
    const auto ok = [](const char *name, const QByteArray &line, const QByteArray &cansend, const QByteArray &candump) {
        QTest::newRow(name) << line << cansend << candump << QString();
    };
    const auto bad = [](const char *name, const QByteArray &line, const char *reason) {
        QTest::newRow(name) << line << QByteArray() << QByteArray() << QString::fromLatin1(reason);
    };
    const QByteArray zeros(128, '0');
    ok("lower case, blanks, CR", "  7ff#0a0b\r", "7FF#0A0B", "can0  7FF   [2]  0A 0B");
    ok("extended small id, empty", "00000005#", "00000005#", "can0  00000005   [0]");
    ok("fd", "123##1AAAAAAAAAAAA", "123##1AAAAAAAAAAAA", "can0  123  [06]  AA AA AA AA AA AA");
    ok("fd 64 bytes", "1FFFFFFF##3" + zeros, "1FFFFFFF##3" + zeros,
       "can0  1FFFFFFF  [64]  " + QByteArray("00 ").repeated(63) + "00");
    bad("no hash", "123DEADBEEF", "no '#'");
    bad("base id too big", "800#00", "above 7FF");
    bad("extended id too big", "20000000#", "above 1FFFFFFF");
    bad("lone digit", "123#ABC", "data ends with a lone hex digit at column 7 (a byte takes two: 0C)");
    bad("no digit after a byte", "123#11;", "';' at column 7 is not a hex digit");
    bad("data not hex", "123#0G", "column 6");
    bad("nine bytes", "123#001122334455667788", "more than 8");
    bad("remote length", "123#R9", "length from 0 to 8");
    bad("fd length between sizes", "123##0" + QByteArray(18, '1'), "9 data bytes");
    bad("control byte", QByteArray("1\x01" "3#00", 6), "\\x01");
}

void tst_CliFormats::canLines()
{
    QFETCH(QByteArray, line);
    QFETCH(QByteArray, cansend);
    QFETCH(QByteArray, candump);
    QFETCH(QString, reason);
    const QCanBusFrame before(0xABC, "kept");
    QCanBusFrame frame = before;
    QString error;
    QCOMPARE(CanLineParser::parse(line, &frame, &error), reason.isEmpty());
    QVERIFY2(error.contains(reason), qPrintable(error));
    // A refused line leaves the frame as it was.
    QCOMPARE(CanLineParser::format(frame), reason.isEmpty() ? cansend : CanLineParser::format(before));
    if (!reason.isEmpty())
        return;
    QCOMPARE(CanLineParser::formatCandump(frame, "can0"), candump);
    // candump -L records: written and read back.
    const QByteArray record = CanLineParser::formatLog(frame, "can0", 1436509053000070);
    QCOMPARE(record, "(1436509053.000070) can0 " + cansend);
    QCanBusFrame back;
    qint64 time = 0;
    QVERIFY(CanLineParser::parseLog(record + '\n', &back, &time, nullptr));
    QCOMPARE(CanLineParser::format(back), cansend);
    QCOMPARE(time, 1436509053000070);
    for (const QByteArray &bad : {"(1436509053.85087) can0 " + cansend, "1.000000 can0 " + cansend,
                                  "(1.000000) " + cansend, "(-1.000000) can0 " + cansend})
        QVERIFY2(!CanLineParser::parseLog(bad, &back, &time, nullptr), bad.constData());
}

// Filters pass a frame when any of them does; error frames always pass.
void tst_CliFormats::canFilters()
{
    const auto pass = [](const QStringList &texts, const QByteArray &line) {
        QList<CanLineParser::Filter> filters;
        QCanBusFrame frame;
        for (const QString &text : texts) {
            filters.append(CanLineParser::Filter{});
            if (!CanLineParser::parseFilter(text, &filters.last(), nullptr))
                return -1;
        }
        return CanLineParser::parse(line, &frame, nullptr) && CanLineParser::passes(filters, frame) ? 1 : 0;
    };
    QCOMPARE(pass({"100:7FF"}, "123#"), 0);
    QCOMPARE(pass({"100:7FF", "123:7FF"}, "123#"), 1);
    QCOMPARE(pass({"~123:7FF"}, "123#01"), 0);
    QCOMPARE(pass({"123~7FF"}, "124#01"), 1);
    QCOMPARE(pass({"100:700"}, "1FF#"), 1);
    for (const char *bad : {"12G:7FF", "123", "~123~7FF", "123:7FF:1"})
        QCOMPARE(pass({bad}, "123#"), -1);

    QCanBusFrame error(QCanBusFrame::ErrorFrame);
    error.setError(QCanBusFrame::BusOffError | QCanBusFrame::ControllerRestartError);
    QVERIFY(CanLineParser::passes({CanLineParser::Filter{0x123, 0x7FF, false, false}}, error));
    QCOMPARE(CanLineParser::format(error), QByteArray("ERRORFRAME bus off, controller restarted"));
}

void tst_CliFormats::hexAndInputDecoding()
{
    QByteArray out;
    QString error;
    QVERIFY(HexCodec::decode("0xDEAD\tbe ef 00", &out, &error));
    QCOMPARE(out, QByteArray::fromHex("deadbeef00"));
    // A refused text leaves the output as it was and says where it went wrong.
    QVERIFY(!HexCodec::decode("ab c", &out, &error));
    QVERIFY2(error.contains("odd number") && error.contains("column 4"), qPrintable(error));
    QVERIFY(!HexCodec::decode("abzz", &out, &error));
    QVERIFY2(error.contains("'z'") && error.contains("column 3"), qPrintable(error));
    QCOMPARE(out, QByteArray::fromHex("deadbeef00"));
    QCOMPARE(HexCodec::dump("0123456789abcde\n\x81", 32),
             QByteArray("00000020  30 31 32 33 34 35 36 37  38 39 61 62 63 64 65 0a  |0123456789abcde.|\n"
                        "00000030  81                                                |.|\n"));

    // Lines cut anywhere: tst_bridge. A line too long is reported once, the
    // last one without its end still counts.
    DataCodec frames(DataCodec::Frames);
    QList<DataCodec::Item> items;
    QList<DataCodec::Problem> problems;
    frames.feed("1F334455#11.22.33\r\n", &items, &problems);
    for (int i = 0; i < 70; ++i)
        frames.feed(QByteArray(1000, '1'), &items, &problems);
    frames.feed("\n456#", &items, &problems);
    frames.finish(&items, &problems);
    QCOMPARE(items.size(), 2);
    QVERIFY(items[0].frame.frameId() == 0x1F334455u && items[0].frame.payload() == QByteArray::fromHex("112233"));
    QVERIFY(items[1].frame.frameId() == 0x456u && items[1].frame.payload().isEmpty() && items[1].line == 3);
    QVERIFY(problems.size() == 1 && problems[0].line == 2 && problems[0].message.contains("longer"));
}

// A line is stamped when its first byte arrives, not with its whole read's
// delta; in line mode (datagram links) a typed line leaves whole on Enter;
// another escape key; the maps each way.
void tst_CliFormats::linesStampedAndTyped()
{
    qint64 now = 1002;
    OutputFormat format;
    format.setClock([&now]() { return now; });
    format.setStamp(OutputFormat::Stamp::Delta);
    QCOMPARE(format.bytes("L1\nL2\nL3"), QByteArray("[+1.002] L1\n[+0.000] L2\n[+0.000] L3"));
    now = 1500;
    QCOMPARE(format.bytes("!\nL4\n"), QByteArray("!\n[+0.498] L4\n"));
    format.setStamp(OutputFormat::Stamp::Epoch);
    QVERIFY(QRegularExpression("^\\[1\\d{9}\\.\\d{6}\\] x\n$").match(format.bytes("x\n")).hasMatch());

    Terminal terminal;
    terminal.setLineMode(true);
    QCOMPARE(terminal.take("abx\x7f"), QByteArray());
    QCOMPARE(terminal.take("c\r"), QByteArray("abc\r"));
    QCOMPARE(terminal.take("\x14\x14\n"), QByteArray("\x14\n"));
    terminal.setLineMode(false);
    terminal.setEscapeKey('a');
    QSignalSpy commands(&terminal, &Terminal::lineCommand);
    QCOMPARE(terminal.take("\x14\x01m\x01\x01x\x01s"), QByteArray("\x14\x01x"));
    QCOMPARE(commands.size(), 2);
    QVERIFY(commands[0][0].toChar() == 'm' && commands[1][0].toChar() == 's');

    NewlineMap map;
    QString error;
    QVERIFY(map.parse(QStringLiteral("ignlf,crcrlf,ctlhex,delbs"), &error));
    QCOMPARE(map.received("a\r\nb\x1b\t\x7f"), QByteArray("a\r\nb[1b]\t[7f]"));
    QCOMPARE(map.sent("\x7f\b\r"), QByteArray("\b\b\r"));
    QVERIFY(map.parse(QStringLiteral("bsdel,igncr"), &error));
    QCOMPARE(map.sent("\x7f\b"), QByteArray("\b\x7f"));
}

// The terminal's commands on a serial line (a pseudo-terminal, which has no
// modem lines and refuses DTR) and on a port without one.
void tst_CliFormats::serialLineCommands()
{
    PluginHost host;
    QString error;
    QVERIFY2(host.load(QStringLiteral(PCOM_PLUGIN_FILE), &error), qPrintable(error));
    PseudoTerminal pty;
    const std::unique_ptr<PortHandle> com = PortHandle::create(host, QStringLiteral("com"), &error);
    QVERIFY(com->configure({"device=" + pty.slavePath(), "baudrate=115200"}, &error) && com->open());
    bool refused = true;
    QCOMPARE(SerialOptions::lineCommand(com->port(), 'l', &refused),
             QString("line: 115200 baud, 8 data bits, parity none, 1 stop bits, flow control none, DTR off, RTS off"));
    QVERIFY(!refused);
    QCOMPARE(SerialOptions::lineCommand(com->port(), 'm', &refused), QString("modem lines: none to read on this line"));
    QVERIFY(SerialOptions::lineCommand(com->port(), 'D', &refused).startsWith("DTR not switched on: ") && refused);
    const std::unique_ptr<PortHandle> udp = PortHandle::create(host, QStringLiteral("udpClient"), &error);
    QCOMPARE(SerialOptions::lineCommand(udp->port(), 'r', &refused), QString("a udpClient port has no serial line"));
    QVERIFY(refused);
}

void tst_CliFormats::answers_data()
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
    row("unknown property", {"open", "com", "baudrate=9600", "speed=9600"}, 2,
        {"unknown property 'speed' of a com port; settable: device, baudrate"});
    row("missing value", {"open", "com", "baudrate"}, 2, {"missing value for 'baudrate'"});
    row("read-only", {"open", "com", "plugin=PCom_Core::tcpClient"}, 2,
        {"property 'plugin' of a com port is read-only"});
    row("connect", {"open", "com", "connect=true"}, 2, {"'connect' is not set on the command line"});
    row("value the port refuses", {"open", "com", "baudrate=fast"}, 2,
        {"value 'fast' for 'baudrate' rejected: expected a positive integer such as 50"});
    row("can bit rate", {"open", "canBus", "baudrate=abc"}, 2,
        {"value 'abc' for 'baudrate' rejected: expected a positive integer such as 5000"});
    row("can relay port", {"open", "canBus", "--can-plugin", "virtualcan", "device=tcp://127.0.0.1:99999/can0"}, 2,
        {"value 'tcp://127.0.0.1:99999/can0' for 'device' rejected: not a valid URL: "});
    row("relay port", {"canbus-server", "99999"}, 2, {"canbus-server takes one PORT from 1 to 65535, not '99999'"});
    row("replay no log", {"open", "canBus", "--replay", "%FILE=123#00\n"}, 2, {"%FILE:1: not a candump log record"});
    row("candump log of a stream", {"open", "tcpClient", "--log-format", "candump"}, 2,
        {"--log-format candump applies to CAN ports only, not to tcpClient"});
    row("can plugin on serial", {"open", "com", "--can-plugin", "virtualcan"}, 2,
        {"--can-plugin applies to CAN ports only"});
    row("unknown command", {"connect", "com"}, 2, {"unknown command 'connect'"});
    row("not a plug-in", {"--plugin", PCOM_CLI_BINARY, "devices"}, 2, {"cannot load the plug-in"});
    row("doc unwritable output", {"doc", "com", "-o", "/nonexistent-dir/page.html"}, 2, {"cannot write"});
    row("bridge without second type", {"bridge", "com", "--"}, 2, {"bridge needs two ports"});
    row("bridge bad hold", {"bridge", "com", "--", "com", "--hold", "-1"}, 2, {"--hold takes a byte count from 0 to "});
    row("rfc2217 without com", {"bridge", "tcpClient", "--", "tcpServer", "--rfc2217"}, 2,
        {"--rfc2217 needs a com port on one side and a tcpServer port on the other"});
    row("on demand with reconnect", {"bridge", "com", "--on-demand", "--reconnect", "--", "tcpServer"}, 2,
        {"--on-demand opens the com side for each new client: leave out --reconnect"});
    row("mqtt setting", {"bridge", "com", "--", "mqtt", "broker=h", "topic=t", "qos=3"}, 2,
        {"mqtt: value '3' for 'qos' rejected: expected 0 or 1"});
    row("mqtt both sides", {"bridge", "mqtt", "broker=h", "topic=a", "--", "mqtt", "broker=h", "topic=b"}, 2,
        {"an mqtt side needs a port of the plug-in on the other side"});
    row("mqtt password file", {"bridge", "com", "--", "mqtt", "broker=h", "topic=t", "--mqtt-password-file", "/nonexistent"},
        2, {"cannot read the password file '/nonexistent'"});
    row("mqtt broker away", {"bridge", "tcpServer", "port=0", "--", "mqtt", "broker=127.0.0.1:%CLOSED", "topic=t"}, 1,
        {"error: the mqtt link did not open: 127.0.0.1:"}, {"pcom: opened"});
    row("client without port", {"open", "udpClient", "address=::1"}, 2,
        {"a udpClient port needs address= and port= (where its peer is)"});
    row("bind family", {"open", "udpClient", "bind-address=::1", "address=127.0.0.1", "port=9"}, 2,
        {"bind-address=::1 is an IPv6 address and address=127.0.0.1 an IPv4 one: a socket bound to one family"});

    // pcom serve refuses a bad file with FILE:LINE: reason before it opens anything.
    const QString good = "%FILE=bridges:\n  - name: a\n    args: tcpServer port=0 -- tcpServer port=0\n";
    const QString more = good + "  - name: b\n    args: tcpServer ";
    row("serve: syntax", {"serve", "%FILE=bridges: [\n"}, 2, {"%FILE:2: end of sequence flow not found"});
    row("serve: control character", {"serve", good + "  - name: b\n    args: \"\\x11\"\x01\n"}, 2,
        {"%FILE:5: not plain UTF-8 text (a control character or an invalid byte sequence)"});
    row("serve: empty", {"serve", "%FILE="}, 2, {"%FILE:1: expected 'bridges:' with a list of bridges"});
    row("serve: unknown top key", {"serve", "%FILE=bridge:\n"}, 2, {"%FILE:1: unknown key 'bridge' (expected bridges)"});
    row("serve: unknown bridge key", {"serve", good + "    port: 5\n"}, 2, {"%FILE:4: unknown key 'port' (expected name, args, on-demand)"});
    row("serve: on demand", {"serve", good + "    on-demand: true\n"}, 2,
        {"%FILE:2: bridge 'a': --on-demand needs a com port on one side and a tcpServer port on the other"});
    row("serve: bad name", {"serve", "%FILE=bridges:\n  - name: a b\n    args: x\n"}, 2,
        {"%FILE:2: a bridge name is 1 to 64 letters, digits, '.', '_' or '-'"});
    row("serve: no args", {"serve", good + "  - name: b\n"}, 2, {"%FILE:4: bridge 'b' has no args"});
    row("serve: bad value", {"serve", more + "port=99999 -- tcpServer\n"}, 2,
        {"%FILE:4: bridge 'b': value '99999' for 'port' rejected: expected an integer from 0 to 65535"});
    row("serve: bad option", {"serve", more + "--stats x -- tcpServer\n"}, 2,
        {"%FILE:4: bridge 'b': --stats takes a number of seconds, not 'x'"});
    row("serve: help", {"serve", more + "--help -- tcpServer\n"}, 2, {"%FILE:4: bridge 'b': --help is no option of a served bridge"});

    row("no serial line", {"open", "com", "device=/dev/pcom-no-such-line"}, 1, {"error: the com port did not open"});
    row("parity a pseudo-terminal refuses", {"open", "com", "device=%PTY", "--parity", "even"}, 1,
        {"error: the com line refused --parity even: parity even refused: "}, {"pcom: opened"});
    row("server port in use", {"open", "tcpServer", "port=%TCP"}, 1,
        {"error: Unable to start the server: ", "error: the tcpServer port did not open"});
    row("relay port taken", {"canbus-server", "%TCP"}, 1, {"is taken: a relay (or another program) listens there"});
    row("refused", {"open", "tcpClient", "address=127.0.0.1", "port=%CLOSED"}, 1,
        {"critical: The connection was refused by the peer.",
         "error: the tcpClient link was lost: Connection refused"});
    // Nothing listens there: the datagram comes back refused.
    row("udp refused", {"open", "udpClient", "address=127.0.0.1", "port=%CLOSED", "--init", "x"}, 1,
        {"error: the udpClient link: 127.0.0.1:", " refused a datagram (Connection refused)"});
    row("connect timeout", {"open", "tcpClient", "address=127.0.0.1", "port=%FULL", "--connect-timeout", "0.5"}, 1,
        {"error: the tcpClient link was lost: no connection within 0.5 s"});
    row("connect timeout of each reconnect try", {"bridge", "tcpClient", "address=127.0.0.1", "port=%FULL",
        "--connect-timeout", "0.3", "--reconnect=0.25", "--", "tcpServer", "port=0", "--timeout", "3"}, 0,
        {"progress: pcom: reopening the tcpClient link, try 2"});

    // An optional value as a word of its own, where it is one.
    row("timestamp mode", {"open", "com", "--timestamp", "relative", "device=/dev/pcom-no-such-line"}, 1,
        {"error: the com port did not open"});
    // --help-all is every command's help, not a server started; the usage names pcom.
    row("help-all", {"open", "tcpServer", "--help-all"}, 0,
        {"Usage: pcom [options] open TYPE", "--timeout", "--can-plugin", "-w, --wait", "Usage: pcom [options] serve",
         "Usage: pcom [options] canbus-server", "\n  help  "});
    row("help", {"open", "--help"}, 0, {"--timestamp[=absolute|delta|relative|epoch]", "--reconnect[=SECONDS]"},
        {"Usage: pcom [options] bridge", "--timestamp <"});
    row("version", {"--version"}, 0, {"pcom " PCOM_VERSION "\n"});
    row("devices by default", {}, 0,
        {"\ncom: COM port\n", "\ntcpServer: Ethernet TCP server\n", "\nudpClient: Ethernet UDP client\n  brief:     ",
         "back-ends: ", "virtualcan", "  available: ", "mqtt (bridge end): MQTT broker: ", "  settings:  broker="});
    row("props", {"props", "com"}, 0,
        {"\nbaudrate\n  type:        choice\n", "  options:     50, 75, 110,", "  value:       \"PCom_Core::com\"\n",
         "  versions:    up to 2.10\n"});
    // By default the newest host version that the records name: 2.12 here.
    row("doc", {"doc", "com"}, 0,
        {"<title>COM port</title>", "<td>plugin</td>", "<h2>Using it with pcom</h2>",
         "<code>pcom open com device=/dev/ttyUSB0 baudrate=115200"}, {"<td>interface</td>"});
    row("doc of host 2.10", {"doc", "com", "--host-version", "2.10"}, 0, {"<td>interface</td>"}, {"<td>plugin</td>"});
}

void tst_CliFormats::answers()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QStringList, present);
    QFETCH(QStringList, absent);
    // A loopback port that a listener holds, and one that nobody listens on.
    QTcpServer taken;
    PseudoTerminal pty;
    QVERIFY(taken.listen(QHostAddress::LocalHost));
    arguments.replaceInStrings(QStringLiteral("%PTY"), pty.slavePath());
    arguments.replaceInStrings(QStringLiteral("%TCP"), QString::number(taken.serverPort()));
    arguments.replaceInStrings(QStringLiteral("%CLOSED"), QString::number(LoopbackPeer::freePort()));
    // A listener with a backlog of 0, full with one connection: the next one hangs.
    const int full = ::socket(AF_INET, SOCK_STREAM, 0);
    const auto closeFull = qScopeGuard([full] { ::close(full); });
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof at;
    QVERIFY(::bind(full, reinterpret_cast<sockaddr *>(&at), size) == 0 && ::listen(full, 0) == 0
            && ::getsockname(full, reinterpret_cast<sockaddr *>(&at), &size) == 0);
    QTcpSocket filler;
    filler.connectToHost(QHostAddress::LocalHost, ntohs(at.sin_port));
    QVERIFY(filler.waitForConnected(5000));
    arguments.replaceInStrings(QStringLiteral("%FULL"), QString::number(ntohs(at.sin_port)));
    // A file of that text.
    QTemporaryDir dir;
    QFile file(dir.filePath(QStringLiteral("serve.yaml")));
    for (QString &argument : arguments) {
        if (!argument.startsWith(QStringLiteral("%FILE=")))
            continue;
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(argument.mid(6).toUtf8()) >= 0);
        file.close();
        argument = file.fileName();
    }
    present.replaceInStrings(QStringLiteral("%FILE"), file.fileName());
    QScopedPointer<PcomProcess> pcom(PcomProcess::run(arguments));
    QCOMPARE(pcom->exitCode(), exitCode);
    const QByteArray text = exitCode == 0 ? pcom->out() + pcom->err() : pcom->err();
    for (const QString &t : present)
        QVERIFY2(text.contains(t.toUtf8()), qPrintable(t + QStringLiteral(" in:\n") + text));
    for (const QString &t : absent)
        QVERIFY2(!text.contains(t.toUtf8()), qPrintable(t));
    if (exitCode != 2)
        return;
    // The message is an error line; nothing was opened.
    const QByteArray err = pcom->err();
    QVERIFY2(err.contains("error: " + present.first().toUtf8()) && pcom->out().isEmpty(), err.constData());
    QVERIFY(!err.contains("setTavlinProperty(connect") && !err.contains("pcom: opened"));
}

// A stop asked for once pcom's run is over (its ports and plug-in going)
// must not kill it: it ends with the status that it chose.
void tst_CliFormats::signalsWhileEnding()
{
    delete new Shutdown;
    for (int number : {SIGINT, SIGTERM})
        QCOMPARE(::raise(number), 0);
}

QTEST_GUILESS_MAIN(tst_CliFormats)
#include "tst_cli_formats.moc"
