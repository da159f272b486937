#include "tests/support/LoopbackPeer.h"
#include "tests/support/PcomProcess.h"
#include "tests/support/PseudoTerminal.h"

#include <QTemporaryDir>
#include <QNetworkDatagram>
#include <QUdpSocket>
#include <QtTest>

// pcom serve: several bridges from one file, reloaded on SIGHUP, and the
// files it refuses before it opens anything.
class tst_CliServe : public QObject
{
    Q_OBJECT
private slots:
    void bridgesAndReload();
    void badConfiguration_data();
    void badConfiguration();
};

static bool writeFile(const QString &path, const QByteArray &text)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(text) == text.size();
}

// Bridges: a serial line and a UDP socket, each served on a TCP server side;
// a reload that changes the UDP one leaves the other's client connected and
// relaying.
void tst_CliServe::bridgesAndReload()
{
    PseudoTerminal pty;
    QVERIFY(pty.isValid());
    QUdpSocket udp;
    QVERIFY(udp.bind(QHostAddress(QHostAddress::LocalHost), 0));
    const auto free = &LoopbackPeer::freePort;
    const quint16 udpBind = free(), served[] = {free(), free(), free()};
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("serve.yaml"));
    const QString text = QStringLiteral(
        "bridges:\n"
        "  - name: serial\n"
        "    args: [com, device=%1, baudrate=115200, --, tcpServer, port=%2, --hold, 100]\n"
        "  - name: datagrams\n"
        "    args: udpClient bind-address=127.0.0.1 bind-port=%3 address=127.0.0.1 port=%4 -- tcpServer port=%5 --hold 100\n");
    const auto config = [&](quint16 datagramsPort) {
        return text.arg(pty.slavePath()).arg(served[0]).arg(udpBind).arg(udp.localPort()).arg(datagramsPort).toUtf8();
    };
    QVERIFY(writeFile(path, config(served[1])));
    PcomProcess pcom;
    pcom.start({"serve", path});
    QVERIFY2(pcom.waitForStderr("info: pcom: serving 2 bridges from "), pcom.err().constData());
    QVERIFY(pcom.err().contains("progress: [serial] pcom: opened the com and tcpServer ports"));

    LoopbackPeer clients[3];
    for (int i = 0; i < 2; ++i)
        QVERIFY(clients[i].connectTo(served[i]));
    // What arrives before the server side took its client is held for it.
    int round = 0;
    // One message each way through the serial and datagrams bridges.
    const auto through = [&](int datagramsClient) {
        const QByteArray n = QByteArray::number(++round);
        clients[0].send("to serial " + n);
        QCOMPARE(pty.readMaster(11 + n.size()), "to serial " + n);
        QVERIFY(pty.writeMaster("from serial " + n));
        QTRY_VERIFY(clients[0].received().endsWith("from serial " + n));
        clients[datagramsClient].send("to datagrams " + n);
        QTRY_VERIFY(udp.hasPendingDatagrams());
        QCOMPARE(udp.receiveDatagram().data(), "to datagrams " + n);
        udp.writeDatagram("from datagrams " + n, QHostAddress::LocalHost, udpBind);
        QTRY_VERIFY(clients[datagramsClient].received().endsWith("from datagrams " + n));
    };
    through(1);

    // A bad file changes nothing.
    QVERIFY(writeFile(path, config(served[1]).replace("name: datagrams", "name: serial")));
    pcom.hangUp();
    QVERIFY2(pcom.waitForStderr(("error: pcom: reload refused, the running bridges stay: " + path
                                 + ":4: bridge name 'serial' used twice (first on line 2)\n").toUtf8()),
             pcom.err().constData());
    QVERIFY(writeFile(path, config(served[2])));
    pcom.hangUp();
    QVERIFY(pcom.waitForStderr("info: pcom: reloading " + path.toUtf8()
                               + ": 0 added, 1 changed, 0 removed, 1 unchanged\n"));
    QTRY_VERIFY(clients[1].isDisconnected());
    QTRY_COMPARE(pcom.err().count("progress: [datagrams] pcom: opened the udpClient and tcpServer ports"), 2);
    QVERIFY(clients[2].connectTo(served[2]));
    through(2);

    pcom.terminate();
    QVERIFY(pcom.waitForExit());
    QCOMPARE(pcom.exitCode(), 0);
    QVERIFY(pcom.err().contains("stats: [serial] tcpServer -> com: 22 bytes\n"));
}

// Refused with FILE:LINE: reason and exit status 2 before any port opens.
void tst_CliServe::badConfiguration_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QByteArray>("error");
    const QByteArray good = "bridges:\n  - name: a\n    args: tcpServer port=0 -- tcpServer port=0\n";
    QTest::newRow("syntax") << QByteArray("bridges: [\n") << QByteArray(":2: end of sequence flow not found");
    QTest::newRow("control character") << good + "  - name: b\n    args: \"\\x11\"\x01\n"
                                       << QByteArray(":5: not plain UTF-8 text (a control character or an invalid byte sequence)");
    QTest::newRow("empty") << QByteArray() << QByteArray(":1: expected 'bridges:' with a list of bridges");
    QTest::newRow("unknown top key") << QByteArray("bridge:\n") << QByteArray(":1: unknown key 'bridge' (expected bridges)");
    QTest::newRow("unknown bridge key") << good + "    port: 5\n" << QByteArray(":4: unknown key 'port' (expected name, args)");
    QTest::newRow("bad name") << QByteArray("bridges:\n  - name: a b\n    args: x\n")
                              << QByteArray(":2: a bridge name is 1 to 64 letters, digits, '.', '_' or '-'");
    QTest::newRow("no args") << good + "  - name: b\n" << QByteArray(":4: bridge 'b' has no args");
    QTest::newRow("same name") << good + good.mid(9) << QByteArray(":4: bridge name 'a' used twice (first on line 2)");
    QTest::newRow("bad value") << good + "  - name: b\n    args: tcpServer port=99999 -- tcpServer\n"
                               << QByteArray(":4: bridge 'b': value '99999' for 'port' rejected: expected an "
                                             "integer from 0 to 65535");
    QTest::newRow("bad option") << good + "  - name: b\n    args: tcpServer --stats x -- tcpServer\n"
                                << QByteArray(":4: bridge 'b': --stats takes a number of seconds, not 'x'");
    QTest::newRow("help") << good + "  - name: b\n    args: tcpServer --help -- tcpServer\n"
                          << QByteArray(":4: bridge 'b': --help is no option of a served bridge");
}

void tst_CliServe::badConfiguration()
{
    QFETCH(QByteArray, text);
    QFETCH(QByteArray, error);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("bad.yaml"));
    QVERIFY(writeFile(path, text));
    std::unique_ptr<PcomProcess> pcom(PcomProcess::run({"serve", path}));
    QCOMPARE(pcom->exitCode(), 2);
    QVERIFY2(pcom->err().contains("error: " + path.toUtf8() + error), pcom->err().constData());
    QVERIFY2(!pcom->err().contains("Server running"), pcom->err().constData());
}

QTEST_GUILESS_MAIN(tst_CliServe)
#include "tst_cli_serve.moc"
