#include "LoopbackPeer.h"
#include "PcomProcess.h"

#include <QCryptographicHash>
#include <QRandomGenerator>
#include <QtTest>

// pcom bridge between a TCP server port and a TCP client port: a source
// client connects to the bridge's server, the bridge's client connects to a
// sink server, and a mebibyte goes each way.
class tst_CliBridge : public QObject
{
    Q_OBJECT
private slots:
    void mebibyteEachWayIntact();
    void peerCloseEndsTheBridge();
};

static QByteArray randomBytes(int size, quint32 seed)
{
    QRandomGenerator random(seed);
    QByteArray data(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        data[i] = char(random.bounded(256));
    return data;
}

static QByteArray sha256(const QByteArray &data)
{
    return QCryptographicHash::hash(data, QCryptographicHash::Sha256).toHex();
}

static quint16 startBridge(PcomProcess &bridge, quint16 sinkPort, const QStringList &more = {})
{
    bridge.start(QStringList{QStringLiteral("bridge"), QStringLiteral("tcpServer"), QStringLiteral("port=0"),
                             QStringLiteral("--"), QStringLiteral("tcpClient"), QStringLiteral("address=127.0.0.1"),
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
    const quint16 port = startBridge(bridge, sink.serverPort(), {QStringLiteral("--stats"), QStringLiteral("0.2")});
    QVERIFY2(port > 0, bridge.err().constData());
    QVERIFY(bridge.waitForStderr("info: tcpClient: Connected"));
    LoopbackPeer source;
    QVERIFY(source.connectTo(port));

    const int size = 1024 * 1024;
    const QByteArray forth = randomBytes(size, 11);
    const QByteArray back = randomBytes(size, 12);
    source.send(forth);
    sink.send(back);
    QTRY_VERIFY_WITH_TIMEOUT(sink.received().size() >= size && source.received().size() >= size, 60000);
    QCOMPARE(sink.received().size(), size);
    QCOMPARE(source.received().size(), size);
    QCOMPARE(sha256(sink.received()), sha256(forth));
    QCOMPARE(sha256(source.received()), sha256(back));

    // Periodic counts while it runs, the final ones on exit.
    QVERIFY(bridge.waitForStderr("stats: tcpServer -> tcpClient: 1048576 bytes\n"));
    bridge.terminate();
    QVERIFY(bridge.waitForExit());
    QCOMPARE(bridge.exitCode(), 0);
    const QList<QByteArray> lines = bridge.err().split('\n');
    QVERIFY(lines.size() >= 3);
    QCOMPARE(lines.at(lines.size() - 3), QByteArray("stats: tcpServer -> tcpClient: 1048576 bytes"));
    QCOMPARE(lines.at(lines.size() - 2), QByteArray("stats: tcpClient -> tcpServer: 1048576 bytes"));
    QTRY_VERIFY_WITH_TIMEOUT(sink.isDisconnected() && source.isDisconnected(), 5000);
}

// When one side's peer goes, what it sent last still reaches the other side,
// then the bridge closes that side too and ends.
void tst_CliBridge::peerCloseEndsTheBridge()
{
    LoopbackPeer sink;
    QVERIFY(sink.listen());
    PcomProcess bridge;
    const quint16 port = startBridge(bridge, sink.serverPort());
    QVERIFY(port > 0);
    LoopbackPeer source;
    QVERIFY(source.connectTo(port));
    QTRY_VERIFY_WITH_TIMEOUT(sink.hasConnection(), 5000);

    sink.send("goodbye");
    sink.close();
    QVERIFY(bridge.waitForExit());
    QCOMPARE(bridge.exitCode(), 0);
    QTRY_VERIFY_WITH_TIMEOUT(source.isDisconnected(), 5000);
    QCOMPARE(source.received(), QByteArray("goodbye"));
    QVERIFY2(bridge.err().contains("info: the tcpClient link was closed"), bridge.err().constData());
    QVERIFY(bridge.err().contains("stats: tcpClient -> tcpServer: 7 bytes\n"));
}

QTEST_GUILESS_MAIN(tst_CliBridge)
#include "tst_cli_bridge.moc"
