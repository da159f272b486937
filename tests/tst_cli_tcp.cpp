#include "LoopbackPeer.h"
#include "PcomProcess.h"

#include <QRandomGenerator>
#include <QtTest>

// pcom open on the TCP client and TCP server ports against loopback peers.
class tst_CliTcp : public QObject
{
    Q_OBJECT
private slots:
    void clientDeliversAndPrintsTheAnswer();
    void clientWhenTheServerCloses();
    void clientRefused();
    void clientBinaryBothWaysUntilSignal();
    void serverRelaysWithAClient();
    void serverWaitsForAClientWithPipedInput();
    void serverFlushesBeforeClosing();
    void serverPortInUse();
};

static QByteArray randomBytes(int size, quint32 seed)
{
    QRandomGenerator random(seed);
    QByteArray data(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        data[i] = char(random.bounded(256));
    return data;
}

static QStringList clientArgs(quint16 port)
{
    return {QStringLiteral("open"), QStringLiteral("tcpClient"), QStringLiteral("address=127.0.0.1"),
            QStringLiteral("port=%1").arg(port)};
}

static quint16 startServer(PcomProcess &pcom, const QStringList &more = {})
{
    pcom.start(QStringList{QStringLiteral("open"), QStringLiteral("tcpServer"), QStringLiteral("port=0")} + more);
    if (!pcom.waitForStderr("progress: pcom: opened the tcpServer port"))
        return 0;
    return quint16(pcom.numberAfter(", port "));
}

// printf hello | pcom open tcpClient address=127.0.0.1 port=N
void tst_CliTcp::clientDeliversAndPrintsTheAnswer()
{
    LoopbackPeer server;
    QVERIFY(server.listen());
    server.answer("hello", "answer from the server\n", false);

    PcomProcess pcom;
    pcom.start(clientArgs(server.serverPort()));
    pcom.write("hello");
    pcom.closeStdin();
    QVERIFY(pcom.waitForExit());
    QCOMPARE(pcom.exitCode(), 0);
    QCOMPARE(server.received(), QByteArray("hello"));
    QCOMPARE(pcom.out(), QByteArray("answer from the server\n"));
    QTRY_VERIFY_WITH_TIMEOUT(server.isDisconnected(), 5000);
    QVERIFY(pcom.err().contains("info: tcpClient: Connected\n"));
    QVERIFY(pcom.err().contains("info: tcpClient: Disconnected\n"));
}

// The peer closing is an orderly end: exit 0, with what it sent printed.
void tst_CliTcp::clientWhenTheServerCloses()
{
    LoopbackPeer server;
    QVERIFY(server.listen());
    server.answer("bye", "last words", true);

    PcomProcess pcom;
    pcom.start(clientArgs(server.serverPort()));
    pcom.write("bye");
    QVERIFY(pcom.waitForExit());
    QCOMPARE(pcom.exitCode(), 0);
    QCOMPARE(pcom.out(), QByteArray("last words"));
    QVERIFY2(pcom.err().contains("critical: The server closed the connection.\n"), pcom.err().constData());
}

void tst_CliTcp::clientRefused()
{
    quint16 closedPort = 0;
    {
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
        closedPort = probe.serverPort();
    }
    PcomProcess pcom;
    pcom.start(clientArgs(closedPort));
    QVERIFY(pcom.waitForExit());
    QCOMPARE(pcom.exitCode(), 1);
    QVERIFY2(pcom.err().contains("critical: The connection was refused by the peer."), pcom.err().constData());
    QVERIFY(pcom.err().contains("error: the tcpClient link failed: The connection was refused"));
}

void tst_CliTcp::clientBinaryBothWaysUntilSignal()
{
    LoopbackPeer server;
    QVERIFY(server.listen());
    PcomProcess pcom;
    pcom.start(clientArgs(server.serverPort()) << QStringLiteral("-q"));
    const QByteArray up = randomBytes(256 * 1024, 1);
    const QByteArray down = randomBytes(300 * 1024, 2);
    pcom.write(up);
    QTRY_VERIFY_WITH_TIMEOUT(server.received().size() >= up.size(), 20000);
    QCOMPARE(server.received(), up);
    server.send(down);
    QVERIFY(pcom.waitForStdoutSize(down.size(), 20000));
    QCOMPARE(pcom.out(), down);

    pcom.interrupt();
    QVERIFY(pcom.waitForExit());
    QCOMPARE(pcom.exitCode(), 0);
    QTRY_VERIFY_WITH_TIMEOUT(server.isDisconnected(), 5000);
    // Quiet leaves out trace and progress lines only.
    QVERIFY(!pcom.err().contains("trace:"));
    QVERIFY(!pcom.err().contains("progress:"));
    QVERIFY(pcom.err().contains("info: tcpClient: Connected\n"));
}

void tst_CliTcp::serverRelaysWithAClient()
{
    PcomProcess pcom;
    const quint16 port = startServer(pcom);
    QVERIFY2(port > 0, pcom.err().constData());

    LoopbackPeer client;
    QVERIFY(client.connectTo(port));
    QVERIFY(pcom.waitForStderr("progress: tcpServer: New connection"));
    client.send("from the client");
    QVERIFY(pcom.waitForStdout("from the client"));
    pcom.write("to the client");
    QTRY_COMPARE_WITH_TIMEOUT(client.received(), QByteArray("to the client"), 5000);

    // The client leaves (Qt reports the remote close as a socket error); the
    // server goes on listening and takes the next client.
    client.close();
    QVERIFY(pcom.waitForStderr("error: The client closed the connection.\n"));
    LoopbackPeer next;
    QVERIFY(next.connectTo(port));
    next.send("second client");
    QVERIFY(pcom.waitForStdout("second client"));

    pcom.closeStdin();
    QVERIFY(pcom.waitForExit());
    QCOMPARE(pcom.exitCode(), 0);
    QTRY_VERIFY_WITH_TIMEOUT(next.isDisconnected(), 5000);
    QCOMPARE(pcom.out(), QByteArray("from the clientsecond client"));
}

// Like nc -l: the input is held until a client is there to take it.
void tst_CliTcp::serverWaitsForAClientWithPipedInput()
{
    PcomProcess pcom;
    pcom.start({QStringLiteral("open"), QStringLiteral("tcpServer"), QStringLiteral("address=any"),
                QStringLiteral("port=0")});
    pcom.write("waiting for you");
    pcom.closeStdin();
    QVERIFY2(pcom.waitForStderr("progress: pcom: opened the tcpServer port"), pcom.err().constData());
    QVERIFY(pcom.err().contains("progress: tcpServer: Server running on IP any, port "));
    const quint16 port = quint16(pcom.numberAfter("Server running on IP any, port "));
    QVERIFY(port > 0);
    QVERIFY(pcom.exitCode() == -1);

    LoopbackPeer client;
    QVERIFY(client.connectTo(port));
    QVERIFY(pcom.waitForExit());
    QCOMPARE(pcom.exitCode(), 0);
    QTRY_VERIFY_WITH_TIMEOUT(client.isDisconnected(), 5000);
    QCOMPARE(client.received(), QByteArray("waiting for you"));
}

// The port closes its clients only after what it wrote to them has left.
void tst_CliTcp::serverFlushesBeforeClosing()
{
    PcomProcess pcom;
    const quint16 port = startServer(pcom, {QStringLiteral("-w"), QStringLiteral("0")});
    QVERIFY(port > 0);
    LoopbackPeer client;
    QVERIFY(client.connectTo(port));
    QVERIFY(pcom.waitForStderr("progress: tcpServer: New connection"));

    const QByteArray data = randomBytes(4 * 1024 * 1024, 3);
    pcom.write(data);
    pcom.closeStdin();
    QVERIFY(pcom.waitForExit(30000));
    QCOMPARE(pcom.exitCode(), 0);
    QTRY_VERIFY_WITH_TIMEOUT(client.isDisconnected(), 20000);
    QCOMPARE(client.received().size(), data.size());
    QVERIFY(client.received() == data);
}

void tst_CliTcp::serverPortInUse()
{
    QTcpServer taken;
    QVERIFY(taken.listen(QHostAddress::LocalHost, 0));
    QScopedPointer<PcomProcess> pcom(PcomProcess::run(
        {QStringLiteral("open"), QStringLiteral("tcpServer"), QStringLiteral("port=%1").arg(taken.serverPort())}));
    QCOMPARE(pcom->exitCode(), 1);
    QVERIFY2(pcom->err().contains("error: Unable to start the server: "), pcom->err().constData());
    QVERIFY(pcom->err().contains("error: the tcpServer port did not open"));
}

QTEST_GUILESS_MAIN(tst_CliTcp)
#include "tst_cli_tcp.moc"
