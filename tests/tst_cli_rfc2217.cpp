#include "hostlib/TelnetParser.h"
#include "tests/support/PcomProcess.h"
#include "tests/support/PseudoTerminal.h"

#include <QtTest>

#include <termios.h>

// pcom bridge --rfc2217 against pySerial's client, and the Telnet parser on
// inputs cut and mangled the ways a network delivers them.
class tst_CliRfc2217 : public QObject
{
    Q_OBJECT
private slots:
    void pyserialClient();
    void parser_data();
    void parser();
};

// Every byte value once, in order.
static const QByteArray all = [] {
    QByteArray bytes(256, '\0');
    for (int i = 0; i < 256; ++i)
        bytes[i] = char(i);
    return bytes;
}();

void tst_CliRfc2217::pyserialClient()
{
    PseudoTerminal pty;
    QVERIFY(pty.isValid());
    PcomProcess bridge;
    bridge.start({"bridge", "com", "device=" + pty.slavePath(), "baudrate=9600", "--", "tcpServer",
                  "address=127.0.0.1", "port=0", "--rfc2217"});
    QVERIFY2(bridge.waitForStderr("progress: pcom: opened the com and tcpServer ports"), bridge.err().constData());
    QProcess client;
    client.start(PCOM_PYTHON, {PCOM_RFC2217_CLIENT, QString::number(bridge.numberAfter("Server running on IP 127.0.0.1, port "))});
    QTRY_VERIFY2_WITH_TIMEOUT(client.canReadLine(), client.readAllStandardError().constData(), 20000);
    QCOMPARE(client.readLine(), QByteArray("set\n"));
    termios line{};
    QVERIFY(tcgetattr(pty.slaveFd(), &line) == 0 && cfgetospeed(&line) == B57600);
    QCOMPARE(line.c_cflag & (CSTOPB | CRTSCTS | CSIZE), tcflag_t(CSTOPB | CRTSCTS | CS8));
    client.write("go\n");

    QCOMPARE(pty.readMaster(512, 10000), all + all);
    QVERIFY(pty.writeMaster(all + all));
    QVERIFY(client.waitForFinished(30000));
    const QByteArray said = client.readAllStandardOutput() + client.readAllStandardError();
    QVERIFY2(client.exitCode() == 0 && said.contains("done"), said.constData());
    bridge.terminate();
    QVERIFY(bridge.waitForExit());
    QCOMPARE(bridge.exitCode(), 0);
}

// Items as text: d:<hex> data, n:<verb>,<option>, s:<option>:<hex> (or
// s:<option>!<size> cut), c:<command>.
static QByteArray render(const QList<TelnetParser::Item> &items)
{
    QByteArrayList parts;
    for (const TelnetParser::Item &item : items) {
        const QByteArray option = QByteArray::number(item.option, 16);
        const QByteArray command = QByteArray::number(item.command, 16);
        if (item.kind == TelnetParser::Kind::Data)
            parts << "d:" + item.bytes.toHex();
        else if (item.kind == TelnetParser::Kind::Negotiation)
            parts << "n:" + command + ',' + option;
        else if (item.kind == TelnetParser::Kind::Command)
            parts << "c:" + command;
        else
            parts << "s:" + option
                         + (item.overlong ? '!' + QByteArray::number(item.bytes.size()) : ':' + item.bytes.toHex());
    }
    return parts.join(' ');
}

void tst_CliRfc2217::parser_data()
{
    QTest::addColumn<QByteArrayList>("pieces");
    QTest::addColumn<QByteArray>("items");
    QTest::newRow("IAC IAC in payload") << QByteArrayList{QByteArray::fromHex("fffa2c01ffff00fff0")}
                                        << QByteArray("s:2c:01ff00");
    QTest::newRow("SB split everywhere") << QByteArrayList{"\xff", "\xfa", "\x2c\x05", "\x03\xff", "\xf0x"}
                                         << QByteArray("s:2c:0503 d:78");
    QTest::newRow("truncated SB") << QByteArrayList{"\xff\xfa\x2c\x01\x02", "\xff\xfb\x03z"}
                                  << QByteArray("n:fb,3 d:7a");
    QTest::newRow("unknown option") << QByteArrayList{"x\xff\xfd", "\x18y"} << QByteArray("d:78 n:fd,18 d:79");
    QTest::newRow("stray SE, NOP") << QByteArrayList{"\xff\xf0q\xff\xf1"} << QByteArray("d:71 c:f1");
    QTest::newRow("endless SB") << QByteArrayList{"\xff\xfa\x2c", QByteArray(100000, 'z'), "\xff\xf0!"}
                                << QByteArray("s:2c!256 d:21");
    QByteArrayList bytewise;
    for (char c : TelnetParser::escape(all.constData(), all.size()))
        bytewise << QByteArray(1, c);
    QTest::newRow("escaped, byte by byte") << bytewise << "d:" + all.toHex();
}

void tst_CliRfc2217::parser()
{
    QFETCH(QByteArrayList, pieces);
    TelnetParser parser;
    QList<TelnetParser::Item> items;
    for (const QByteArray &piece : pieces)
        parser.feed(piece.constData(), piece.size(), &items);
    QTEST(render(items), "items");
}

QTEST_GUILESS_MAIN(tst_CliRfc2217)
#include "tst_cli_rfc2217.moc"
