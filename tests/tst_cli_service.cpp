#include "tests/support/LoopbackPeer.h"
#include "tests/support/PcomProcess.h"
#include "tests/support/PseudoTerminal.h"

#include <QNetworkDatagram>
#include <QTemporaryDir>
#include <QUdpSocket>
#include <QtTest>

#include <memory>

// pcom serving clients on a TCP server side (policies, allow-lists, slow
// clients), keeping a serial or TCP client side up (--reconnect), and pcom
// serve: several bridges from one file, reloaded on SIGHUP (the files it
// refuses: tst_cli_formats).
class tst_CliService : public QObject
{
    Q_OBJECT
private slots:
    void whoKeepsTheLine_data();
    void whoKeepsTheLine();
    void slowClient_data();
    void slowClient();
    void reconnect_data();
    void reconnect();
    void serveAndReload();
    void serveWhatIsMissingAtStart();
};

static bool writeFile(const QString &path, const QByteArray &text)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(text) == text.size();
}

// A TCP server on any address, and the port it listens on; 0 when it did not open.
static quint16 openServer(PcomProcess &pcom, const QStringList &more)
{
    return pcom.startOpened(QStringList{"open", "tcpServer", "address=any", "port=0"} + more) ? pcom.serverPort() : 0;
}

// Two clients, the second from the address the row names: the policy or the
// allow-list decides who keeps the line. Only those get what pcom sends and
// are heard; one turned away hears why, one refused or replaced hears nothing.
void tst_CliService::whoKeepsTheLine_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QString>("secondFrom");
    QTest::addColumn<bool>("firstGets");
    QTest::addColumn<bool>("secondGets");
    QTest::addColumn<QByteArray>("effect");
    QTest::newRow("share") << QStringList{"--clients", "share"} << "127.0.0.1" << true << true
                           << QByteArray("(share): 2 accepted\n");
    QTest::newRow("exclusive") << QStringList{"--clients", "exclusive"} << "127.0.0.1" << true << false
                               << QByteArray("(exclusive): 2 accepted, 1 turned away (line in use)\n");
    QTest::newRow("replace") << QStringList{"--clients", "replace"} << "127.0.0.1" << false << true
                             << QByteArray("(replace): 2 accepted, 1 replaced\n");
    QTest::newRow("IPv6 loopback only") << QStringList{"--allow", "::1"} << "::1" << false << true
                                        << QByteArray("(share): 1 accepted, 1 refused (allow-list)\n");
    QTest::newRow("IPv4 network only") << QStringList{"--allow", "127.0.0.0/8"} << "::1" << true << false
                                       << QByteArray("(share): 1 accepted, 1 refused (allow-list)\n");
}

void tst_CliService::whoKeepsTheLine()
{
    QFETCH(QStringList, options);
    QFETCH(QString, secondFrom);
    QFETCH(bool, firstGets);
    QFETCH(bool, secondGets);
    QFETCH(QByteArray, effect);
    PcomProcess pcom;
    const quint16 port = openServer(pcom, options);
    QVERIFY2(port > 0, pcom.err().constData());
    LoopbackPeer peers[2];
    const bool gets[] = {firstGets, secondGets};
    const QByteArray messages[] = {"from 0\n", "from 1\n"};
    QByteArray names[2];
    for (int i = 0; i < 2; ++i) {
        const QHostAddress from(i ? secondFrom : "127.0.0.1");
        QVERIFY(peers[i].connectTo(port, 5000, from));
        // Read before a refusal can reset it.
        names[i] = QString(from == QHostAddress::LocalHostIPv6 ? "[%1]:%2" : "%1:%2")
                       .arg(from.toString()).arg(peers[i].socket()->localPort()).toLatin1();
        // Joined or refused: either way pcom has dealt with it.
        QVERIFY2(pcom.waitForStderr(names[i]), pcom.err().constData());
    }
    pcom.write("to all\n");
    for (int i = 0; i < 2; ++i) {
        peers[i].send(messages[i]);
        const QByteArray why = options.contains("exclusive") ? "pcom: the line is in use by another client\r\n" : "";
        QTRY_VERIFY_WITH_TIMEOUT(gets[i] ? pcom.out().contains(messages[i]) : peers[i].isDisconnected(), 5000);
        QTRY_COMPARE_WITH_TIMEOUT(peers[i].received(), gets[i] ? QByteArray("to all\n") : why, 5000);
    }
    pcom.closeStdin();
    QVERIFY(pcom.waitForExit());
    QCOMPARE(pcom.exitCode(), 0);
    for (int i = 0; i < 2; ++i) {
        QCOMPARE(pcom.out().contains(messages[i]), gets[i]);
        QVERIFY2(!gets[i] || pcom.err().contains("(" + names[i] + "): 7 bytes to it, 7 from it"), pcom.err().constData());
    }
    QVERIFY2(pcom.err().contains("stats: tcpServer clients " + effect), pcom.err().constData());
}

// One client stops reading: by default it is dropped and the other one gets
// everything; with --wait-slow the whole line waits for it.
void tst_CliService::slowClient_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::newRow("dropped") << QStringList{"--drop-slow", "0.5"};
    QTest::newRow("waited for") << QStringList{"--wait-slow"};
}

void tst_CliService::slowClient()
{
    QFETCH(QStringList, options);
    const bool waits = options.contains("--wait-slow");
    PcomProcess pcom;
    const quint16 port = openServer(pcom, options);
    QVERIFY2(port > 0, pcom.err().constData());
    LoopbackPeer fast;
    QVERIFY(fast.connectTo(port));
    QTcpSocket slow;
    slow.setReadBufferSize(1);
    slow.connectToHost(QHostAddress::LocalHost, port);
    QVERIFY(slow.waitForConnected(5000) && pcom.waitForStderr("progress: pcom: tcpServer client 2 (127.0.0.1:"));

    // Far more than the kernel's socket buffers take in.
    const int size = 48 * 1024 * 1024;
    pcom.write(QByteArray(size, 'x'));
    if (waits) {
        // The whole line waits: the fast client does not get everything, and nobody is dropped.
        QVERIFY(!QTest::qWaitFor([&] { return fast.received().size() == size || pcom.err().contains("dropped"); }, 1500));
        slow.abort();
    } else {
        QVERIFY(pcom.waitForStderr("error: pcom: dropped tcpServer client 2 (127.0.0.1:"));
    }
    QTRY_COMPARE_WITH_TIMEOUT(fast.received().size(), size, 30000);
    pcom.closeStdin();
    QVERIFY(pcom.waitForExit());
    QCOMPARE(pcom.exitCode(), 0);
    QVERIFY2(waits || pcom.err().contains("dropped, stopped reading)\n"), pcom.err().constData());
}

// The peer goes and comes back: a server on the same port, or a
// pseudo-terminal behind the device's path as a re-plugged adapter would.
// pcom says so, tries again, drops what it took in meanwhile and relays on.
void tst_CliService::reconnect_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("tcpClient") << "tcpClient";
    QTest::newRow("com") << "com";
}

void tst_CliService::reconnect()
{
    QFETCH(QString, kind);
    const bool com = kind == "com";
    QTemporaryDir dir;
    const QString link = dir.filePath("ttyTest");
    std::unique_ptr<PseudoTerminal> pty;
    std::unique_ptr<LoopbackPeer> server;
    quint16 port = 0;
    const auto comeUp = [&] {
        if (!com) {
            server = std::make_unique<LoopbackPeer>();
            return server->listen(port) && (port = server->serverPort()) > 0;
        }
        pty = std::make_unique<PseudoTerminal>();
        QFile::remove(link);
        return pty->isValid() && QFile::link(pty->slavePath(), link);
    };
    const auto send = [&](const QByteArray &data) { return com ? pty->writeMaster(data) : (server->send(data), true); };
    QByteArray fromPty;
    const auto received = [&] { return com ? fromPty += pty->readMaster(64, 20) : server->received(); };
    QVERIFY(comeUp());
    PcomProcess pcom;
    const QString at = com ? "device=" + link : QStringLiteral("address=127.0.0.1 port=%1").arg(port);
    QVERIFY2(pcom.startOpened(QStringList{"open", kind, "--reconnect=0.3"} + at.split(' ')), pcom.err().constData());
    QTRY_VERIFY_WITH_TIMEOUT(com || server->hasConnection(), 5000);
    QVERIFY(send("one") && pcom.waitForStdout("one"));
    // The device goes with its path: a pseudo-terminal's number may go to
    // another process at once, whose line pcom must not take over.
    pty.reset();
    server.reset();
    QFile::remove(link);
    QVERIFY(pcom.waitForStderr("progress: pcom: reopening the " + kind.toUtf8() + " link, try 1"));
    QVERIFY(pcom.err().contains("error: the " + kind.toUtf8() + " link was lost"));
    pcom.write("lost while away");
    QVERIFY(pcom.waitForStderr("progress: pcom: reopening the " + kind.toUtf8() + " link, try 2"));
    QVERIFY(comeUp());
    QVERIFY(pcom.waitForStderr("info: pcom: the " + kind.toUtf8() + " link is back after "));
    QVERIFY2(pcom.err().contains(" tries; 15 bytes for it were dropped while it was away\n"), pcom.err().constData());
    QTRY_VERIFY_WITH_TIMEOUT(com || server->hasConnection(), 5000);
    pcom.write("two");
    QTRY_COMPARE_WITH_TIMEOUT(received(), QByteArray("two"), 5000);
    QVERIFY(send("three") && pcom.waitForStdout("onethree"));
    // What was dropped while it was away was not delivered.
    QCOMPARE(pcom.stop(), 1);
    QVERIFY(pcom.err().contains("error: 15 bytes from standard streams were dropped, not delivered to " + kind.toUtf8()));
}

// Bridges: a serial line and a UDP socket, each served on a TCP server side
// that holds 100 bytes for its next client and drops the rest; a reload that
// changes the UDP one leaves the other's client connected and relaying.
void tst_CliService::serveAndReload()
{
    PseudoTerminal pty;
    QUdpSocket udp;
    QVERIFY(pty.isValid() && udp.bind(QHostAddress(QHostAddress::LocalHost), 0));
    const auto free = &LoopbackPeer::freePort;
    const quint16 udpBind = free(), served[] = {free(), free(), free()};
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("serve.yaml"));
    const QString text = QStringLiteral(
        "bridges:\n"
        "  - name: serial\n"
        "    args: [com, device=%1, baudrate=115200, --, tcpServer, port=%2, --hold, 100, --stats, 0.1]\n"
        "  - name: datagrams\n"
        "    args: udpClient bind-address=127.0.0.1 bind-port=%3 address=127.0.0.1 port=%4 -- tcpServer port=%5\n");
    const auto config = [&](quint16 datagramsPort) {
        return text.arg(pty.slavePath()).arg(served[0]).arg(udpBind).arg(udp.localPort()).arg(datagramsPort).toUtf8();
    };
    QVERIFY(writeFile(path, config(served[1])));
    PcomProcess pcom;
    pcom.start({"serve", path});
    QVERIFY2(pcom.waitForStderr("info: pcom: serving 2 bridges from "), pcom.err().constData());
    const QByteArray early(150, 'e');
    QVERIFY(pty.writeMaster(early) && pcom.waitForStderr("stats: [serial] com -> tcpServer: 0 bytes, 50 dropped\n"));
    LoopbackPeer clients[3];
    for (int i = 0; i < 2; ++i)
        QVERIFY(clients[i].connectTo(served[i]));
    QTRY_COMPARE(clients[0].received(), early.left(100));
    int round = 0;
    // A message each way through the serial bridge, one to the datagrams.
    const auto through = [&](int datagramsClient) {
        const QByteArray n = QByteArray::number(++round);
        clients[0].send("to serial " + n);
        QCOMPARE(pty.readMaster(11 + n.size()), "to serial " + n);
        QVERIFY(pty.writeMaster("from serial " + n));
        QTRY_VERIFY(clients[0].received().endsWith("from serial " + n));
        clients[datagramsClient].send("to datagrams " + n);
        QTRY_VERIFY(udp.hasPendingDatagrams());
        QCOMPARE(udp.receiveDatagram().data(), "to datagrams " + n);
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
    QCOMPARE(pcom.stop(), 0);
    QVERIFY2(pcom.err().contains("stats: [serial] com -> tcpServer: 126 bytes, 50 dropped\n"
                                 "stats: [serial] tcpServer -> com: 22 bytes\n"), pcom.err().constData());
}

// A bridge whose device is missing at the start comes up when it appears
// with --reconnect (beside a CAN bridge written as the help shows it), and
// fails the run without.
void tst_CliService::serveWhatIsMissingAtStart()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("serve.yaml"), link = dir.filePath("ttyLater");
    const auto free = &LoopbackPeer::freePort;
    const QString text = QStringLiteral(
        "bridges:\n"
        "  - name: can\n"
        "    args: [canBus, --can-plugin, virtualcan, \"device=tcp://127.0.0.1:%1/can0\", --, tcpServer, port=%2]\n"
        "  - name: line\n"
        "    args: com device=%3 %4 -- tcpServer port=%5\n").arg(free()).arg(free()).arg(link);
    QVERIFY(writeFile(path, text.arg("--reconnect=0.3").arg(free()).toUtf8()));
    PcomProcess pcom;
    pcom.start({"serve", path});
    QVERIFY2(pcom.waitForStderr("info: pcom: serving 1 bridges from " + path.toUtf8() + "; 1 waiting to open\n"),
             pcom.err().constData());
    PseudoTerminal pty;
    QVERIFY(pty.isValid() && QFile::link(pty.slavePath(), link));
    QVERIFY2(pcom.waitForStderr("info: [line] pcom: the bridge is up after "), pcom.err().constData());
    QCOMPARE(pcom.stop(), 0);
    QFile::remove(link);

    QVERIFY(writeFile(path, text.arg("").arg(free()).toUtf8()));
    PcomProcess failing;
    failing.start({"serve", path});
    QVERIFY(failing.waitForExit());
    QCOMPARE(failing.exitCode(), 1);
    QVERIFY(failing.err().contains("error: [line] pcom: the bridge did not open (no --reconnect)"));
}

QTEST_GUILESS_MAIN(tst_CliService)
#include "tst_cli_service.moc"
