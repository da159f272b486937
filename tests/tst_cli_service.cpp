#include "tests/support/LoopbackPeer.h"
#include "tests/support/PcomProcess.h"
#include "tests/support/PseudoTerminal.h"

#include <QTemporaryDir>
#include <QtTest>

#include <memory>

// pcom serving clients on a TCP server side (policies, allow-lists, slow
// clients) and keeping a serial or TCP client side up (--reconnect).
class tst_CliService : public QObject
{
    Q_OBJECT
private slots:
    void policies_data();
    void policies();
    void slowClient_data();
    void slowClient();
    void allowList_data();
    void allowList();
    void reconnectTcp();
    void reconnectSerial();
};

static quint16 openServer(PcomProcess &pcom, const QStringList &more, const QString &address = "127.0.0.1")
{
    pcom.start(QStringList{"open", "tcpServer", "address=" + address, "port=0"} + more);
    if (!pcom.waitForStderr("progress: pcom: opened the tcpServer port"))
        return 0;
    return quint16(pcom.numberAfter(QStringLiteral("Server running on IP %1, port ").arg(address).toLatin1()));
}

void tst_CliService::policies_data()
{
    QTest::addColumn<QString>("policy");
    QTest::addColumn<bool>("firstGets");
    QTest::addColumn<bool>("secondGets");
    QTest::addColumn<QByteArray>("effect");
    QTest::newRow("share") << "share" << true << true << QByteArray("(share): 2 accepted\n");
    QTest::newRow("exclusive") << "exclusive" << true << false
                               << QByteArray("(exclusive): 2 accepted, 1 turned away (line in use)\n");
    QTest::newRow("replace") << "replace" << false << true << QByteArray("(replace): 2 accepted, 1 replaced\n");
}

void tst_CliService::policies()
{
    QFETCH(QString, policy);
    QFETCH(bool, firstGets);
    QFETCH(bool, secondGets);
    QFETCH(QByteArray, effect);
    PcomProcess pcom;
    const quint16 port = openServer(pcom, {"--clients", policy});
    QVERIFY2(port > 0, pcom.err().constData());
    LoopbackPeer first, second;
    QVERIFY(first.connectTo(port) && pcom.waitForStderr("progress: pcom: tcpServer client 1 (127.0.0.1:"));
    const quint16 firstPort = first.socket()->localPort();
    QVERIFY(second.connectTo(port) && pcom.waitForStderr("progress: pcom: tcpServer client 2 (127.0.0.1:"));
    first.send("from first\n");
    second.send("from second\n");
    pcom.write("to all\n");
    LoopbackPeer *gone = !firstGets ? &first : !secondGets ? &second : nullptr;
    for (LoopbackPeer *peer : {&first, &second})
        if (peer != gone)
            QTRY_COMPARE_WITH_TIMEOUT(peer->received(), QByteArray("to all\n"), 5000);
    QTRY_VERIFY_WITH_TIMEOUT(!gone || gone->isDisconnected(), 5000);
    QVERIFY(gone != &second || second.received() == "pcom: the line is in use by another client\r\n");
    // Only the clients that keep the line are heard.
    QTRY_VERIFY_WITH_TIMEOUT(pcom.out().contains(firstGets ? "from first\n" : "from second\n"), 5000);
    pcom.closeStdin();
    QVERIFY(pcom.waitForExit());
    QCOMPARE(pcom.exitCode(), 0);
    QCOMPARE(pcom.out().contains("from first"), firstGets);
    QCOMPARE(pcom.out().contains("from second"), secondGets);
    QVERIFY2(pcom.err().contains("stats: tcpServer clients " + effect), pcom.err().constData());
    const QByteArray peer = QStringLiteral("127.0.0.1:%1").arg(firstPort).toLatin1();
    QVERIFY2(pcom.err().contains(QByteArray("stats: tcpServer client 1 (") + peer + "): "
                                 + (firstGets ? "7 bytes to it, 11 from it" : "0 bytes to it, 0 from it")),
             pcom.err().constData());
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
    if (!waits)
        QVERIFY2(pcom.err().contains("dropped, stopped reading)\n"), pcom.err().constData());
}

void tst_CliService::allowList_data()
{
    QTest::addColumn<QString>("allow");
    QTest::addColumn<bool>("ipv4Accepted");
    QTest::newRow("IPv6 loopback only") << "::1" << false;
    QTest::newRow("IPv4 network only") << "127.0.0.0/8" << true;
}

void tst_CliService::allowList()
{
    QFETCH(QString, allow);
    QFETCH(bool, ipv4Accepted);
    PcomProcess pcom;
    const quint16 port = openServer(pcom, {"--allow", allow}, "any");
    QVERIFY2(port > 0, pcom.err().constData());
    LoopbackPeer ipv4, ipv6;
    QVERIFY(ipv4.connectTo(port));
    // Read before the refusal can reset it.
    const quint16 ipv4Port = ipv4.socket()->localPort();
    QVERIFY(ipv6.connectTo(port, 5000, QHostAddress::LocalHostIPv6));
    const quint16 refusedPort = ipv4Accepted ? ipv6.socket()->localPort() : ipv4Port;
    LoopbackPeer &refused = ipv4Accepted ? ipv6 : ipv4;
    LoopbackPeer &accepted = ipv4Accepted ? ipv4 : ipv6;
    QTRY_VERIFY_WITH_TIMEOUT(refused.isDisconnected(), 5000);
    const QString line = QStringLiteral("warning: pcom: refused a tcpServer client from %1:%2: not on the allow-list");
    QVERIFY2(pcom.waitForStderr(line.arg(ipv4Accepted ? "[::1]" : "127.0.0.1").arg(refusedPort).toLatin1()), pcom.err().constData());
    accepted.send("hello");
    QVERIFY(pcom.waitForStdout("hello"));
    QCOMPARE(pcom.err().count("New connection"), 1);
    pcom.terminate();
    QVERIFY(pcom.waitForExit());
    QVERIFY(pcom.err().contains("1 accepted, 1 refused (allow-list)"));
}

// The server goes and comes back on the same port: pcom says so, tries
// again and relays on.
void tst_CliService::reconnectTcp()
{
    auto server = std::make_unique<LoopbackPeer>();
    QVERIFY(server->listen());
    const quint16 port = server->serverPort();
    PcomProcess pcom;
    pcom.start({"open", "tcpClient", "address=127.0.0.1", QStringLiteral("port=%1").arg(port), "--reconnect=0.3"});
    QTRY_VERIFY_WITH_TIMEOUT(server->hasConnection(), 5000);
    server->send("one");
    QVERIFY(pcom.waitForStdout("one"));
    server->close();
    QTRY_VERIFY_WITH_TIMEOUT(server->isDisconnected(), 5000);
    server.reset();
    QVERIFY(pcom.waitForStderr("error: the tcpClient link was lost") && pcom.waitForStderr("progress: pcom: reopening the tcpClient link, try 2"));
    // Taken in and dropped while the server is away, before it is back.
    pcom.write("lost while away");
    QVERIFY(pcom.waitForStderr("progress: pcom: reopening the tcpClient link, try 3"));
    server = std::make_unique<LoopbackPeer>();
    QVERIFY(server->listen(port));
    QVERIFY(pcom.waitForStderr("is back after"));
    QTRY_VERIFY_WITH_TIMEOUT(server->hasConnection(), 5000);
    server->send("two");
    QVERIFY(pcom.waitForStdout("onetwo"));
    pcom.write("three");
    QTRY_COMPARE_WITH_TIMEOUT(server->received(), QByteArray("three"), 5000);
    pcom.terminate();
    QVERIFY(pcom.waitForExit());
    QCOMPARE(pcom.exitCode(), 0);
}

// The device's path is a link to a pseudo-terminal that goes and is made
// again, as a re-plugged adapter would.
void tst_CliService::reconnectSerial()
{
    QTemporaryDir dir;
    const QString link = dir.filePath("ttyTest");
    auto pty = std::make_unique<PseudoTerminal>();
    QVERIFY(pty->isValid());
    QVERIFY(QFile::link(pty->slavePath(), link));
    PcomProcess pcom;
    pcom.start({"open", "com", "device=" + link, "--reconnect=0.3"});
    QVERIFY(pcom.waitForStderr("progress: pcom: opened the com port"));
    QVERIFY(pty->writeMaster("one"));
    QVERIFY(pcom.waitForStdout("one"));
    pty.reset();
    QVERIFY(pcom.waitForStderr("error: the com link was lost") && pcom.waitForStderr("progress: pcom: reopening the com link, try 1"));
    pty = std::make_unique<PseudoTerminal>();
    QVERIFY(QFile::remove(link) && QFile::link(pty->slavePath(), link));
    QVERIFY(pcom.waitForStderr("info: pcom: the com link is back after"));
    pcom.write("two");
    QCOMPARE(pty->readMaster(3), QByteArray("two"));
    QVERIFY(pty->writeMaster("three"));
    QVERIFY(pcom.waitForStdout("onethree"));
    pcom.terminate();
    QVERIFY(pcom.waitForExit());
    QCOMPARE(pcom.exitCode(), 0);
}

QTEST_GUILESS_MAIN(tst_CliService)
#include "tst_cli_service.moc"
