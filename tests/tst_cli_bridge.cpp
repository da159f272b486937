#include "tests/support/LoopbackPeer.h"
#include "tests/support/PcomProcess.h"

#include <QRandomGenerator>
#include <QtTest>

// pcom bridge between a TCP server port and a TCP client port: a source
// client connects to the bridge's server, the bridge's client connects to a
// sink server.
class tst_CliBridge : public QObject
{
    Q_OBJECT
private slots:
    void mebibyteEachWayIntact();
    void peerCloseEndsTheBridge();
    void serverWithoutClient_data();
    void serverWithoutClient();
};

static quint16 startBridge(PcomProcess &bridge, quint16 sinkPort, const QStringList &more = {})
{
    bridge.start(QStringList{"bridge", "tcpServer", "port=0", "--", "tcpClient", "address=127.0.0.1",
                             QStringLiteral("port=%1").arg(sinkPort)}
                 + more);
    if (!bridge.waitForStderr("progress: pcom: opened the tcpServer and tcpClient ports"))
        return 0;
    return quint16(bridge.numberAfter("Server running on IP 127.0.0.1, port "));
}

void tst_CliBridge::mebibyteEachWayIntact()
{
    LoopbackPeer sink;
    QVERIFY(sink.listen());
    PcomProcess bridge;
    const quint16 port = startBridge(bridge, sink.serverPort(), {"--stats", "0.2"});
    QVERIFY2(port > 0, bridge.err().constData());
    QVERIFY(bridge.waitForStderr("info: tcpClient: Connected"));
    LoopbackPeer source;
    QVERIFY(source.connectTo(port));
    QVERIFY(bridge.waitForStderr("progress: tcpServer: New connection"));

    const int size = 1024 * 1024;
    QByteArray forth(size, Qt::Uninitialized);
    QByteArray back(size, Qt::Uninitialized);
    QRandomGenerator(11).fillRange(reinterpret_cast<quint32 *>(forth.data()), size / 4);
    QRandomGenerator(12).fillRange(reinterpret_cast<quint32 *>(back.data()), size / 4);
    source.send(forth);
    sink.send(back);
    QTRY_VERIFY_WITH_TIMEOUT(sink.received().size() >= size && source.received().size() >= size, 60000);
    QVERIFY(sink.received() == forth);
    QVERIFY(source.received() == back);

    // Periodic counts while it runs, the final ones on exit.
    QVERIFY(bridge.waitForStderr("stats: tcpServer -> tcpClient: 1048576 bytes\n"));
    bridge.terminate();
    QVERIFY(bridge.waitForExit());
    QCOMPARE(bridge.exitCode(), 0);
    QVERIFY2(bridge.err().endsWith("stats: tcpServer -> tcpClient: 1048576 bytes\n"
                                   "stats: tcpClient -> tcpServer: 1048576 bytes\n"),
             bridge.err().constData());
    QTRY_VERIFY_WITH_TIMEOUT(sink.isDisconnected() && source.isDisconnected(), 5000);
}

// When one side's peer goes, what it sent last still reaches the other side,
// then the bridge closes that side too and ends.
void tst_CliBridge::peerCloseEndsTheBridge()
{
    LoopbackPeer sink;
    QVERIFY(sink.listen());
    PcomProcess bridge;
    LoopbackPeer source;
    QVERIFY(source.connectTo(startBridge(bridge, sink.serverPort())));
    QTRY_VERIFY_WITH_TIMEOUT(sink.hasConnection(), 5000);
    // Until the server has taken its client, what arrives for it is dropped.
    QVERIFY(bridge.waitForStderr("progress: tcpServer: New connection"));

    sink.send("goodbye");
    sink.close();
    QVERIFY(bridge.waitForExit());
    QCOMPARE(bridge.exitCode(), 0);
    QTRY_VERIFY_WITH_TIMEOUT(source.isDisconnected(), 5000);
    QCOMPARE(source.received(), QByteArray("goodbye"));
    QVERIFY2(bridge.err().contains("info: the tcpClient link was closed"), bridge.err().constData());
    QVERIFY(bridge.err().contains("stats: tcpClient -> tcpServer: 7 bytes\n"));
}

// What arrives for a TCP server side without a client is dropped and
// counted (memory stays flat), or with --hold kept up to a bound for the
// next client.
void tst_CliBridge::serverWithoutClient_data()
{
    QTest::addColumn<int>("hold");
    QTest::newRow("dropped") << 0;
    QTest::newRow("1000 held") << 1000;
}

void tst_CliBridge::serverWithoutClient()
{
    QFETCH(int, hold);
    LoopbackPeer source;
    QVERIFY(source.listen());
    PcomProcess bridge;
    bridge.start({"bridge", "tcpClient", "address=127.0.0.1", QStringLiteral("port=%1").arg(source.serverPort()), "--",
                  "tcpServer", "port=0", "--stats", "0.05", "--hold", QString::number(hold)});
    QTRY_VERIFY_WITH_TIMEOUT(source.hasConnection(), 10000);
    QByteArray data(5000, Qt::Uninitialized);
    QRandomGenerator(13).fillRange(reinterpret_cast<quint32 *>(data.data()), data.size() / 4);
    source.send(data);
    QVERIFY2(bridge.waitForStderr(QStringLiteral("stats: tcpClient -> tcpServer: 0 bytes, %1 dropped\n")
                                      .arg(data.size() - hold)
                                      .toUtf8()),
             bridge.err().constData());

    LoopbackPeer client;
    QVERIFY(client.connectTo(quint16(bridge.numberAfter("Server running on IP 127.0.0.1, port "))));
    QVERIFY(bridge.waitForStderr("progress: tcpServer: New connection"));
    source.send("tail");
    QTRY_COMPARE_WITH_TIMEOUT(client.received(), data.left(hold) + "tail", 5000);
    source.close();
    QVERIFY(bridge.waitForExit());
    QCOMPARE(bridge.exitCode(), 0);
    QVERIFY2(bridge.err().contains(QStringLiteral("stats: tcpClient -> tcpServer: %1 bytes, %2 dropped\n")
                                       .arg(hold + 4)
                                       .arg(data.size() - hold)
                                       .toUtf8()),
             bridge.err().constData());
}

QTEST_GUILESS_MAIN(tst_CliBridge)
#include "tst_cli_bridge.moc"
