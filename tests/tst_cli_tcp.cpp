#include "tests/support/LoopbackPeer.h"
#include "tests/support/PcomProcess.h"

#include <QRandomGenerator>
#include <QTcpServer>
#include <QtTest>

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

// pcom open on the TCP client and TCP server ports against loopback peers.
class tst_CliTcp : public QObject
{
    Q_OBJECT
private slots:
    void clientEnds_data();
    void clientEnds();
    void clientBinaryBothWaysUntilSignal();
    void serverRelaysWithClients();
    void serverHoldsInputForAClient();
    void halfCloseLetsTheServerAnswer();
    void resetAfterSomeBytesCountsTheRest();
    void hostNameAndIpv6();
};

static QByteArray randomBytes(int size, quint32 seed)
{
    QByteArray data(size, Qt::Uninitialized);
    QRandomGenerator(seed).fillRange(reinterpret_cast<quint32 *>(data.data()), size / 4);
    return data;
}

static QStringList clientArgs(quint16 port)
{
    return {"open", "tcpClient", "address=127.0.0.1", QStringLiteral("port=%1").arg(port)};
}

void tst_CliTcp::clientEnds_data()
{
    QTest::addColumn<bool>("serverCloses");
    QTest::addColumn<QByteArray>("line");
    // Standard input ends: pcom prints what arrives meanwhile, then closes.
    QTest::newRow("input ends") << false << QByteArray("info: tcpClient: Disconnected\n");
    // The peer closing is an orderly end too.
    QTest::newRow("server closes") << true << QByteArray("critical: The server closed the connection.\n");
}

void tst_CliTcp::clientEnds()
{
    QFETCH(bool, serverCloses);
    QFETCH(QByteArray, line);
    LoopbackPeer server;
    QVERIFY(server.listen());
    server.answer("hello", "answer from the server\n", serverCloses);
    PcomProcess pcom;
    pcom.start(clientArgs(server.serverPort()));
    pcom.write("hello");
    // A Qt server drops what it has not sent yet when its input ends, so the
    // end of pcom's input (a half-close) waits for the answer.
    if (!serverCloses && pcom.waitForStdout("answer"))
        pcom.closeStdin();
    QVERIFY(pcom.waitForExit());
    QCOMPARE(pcom.exitCode(), 0);
    QCOMPARE(server.received(), QByteArray("hello"));
    QCOMPARE(pcom.out(), QByteArray("answer from the server\n"));
    QTRY_VERIFY_WITH_TIMEOUT(server.isDisconnected(), 5000);
    QVERIFY2(pcom.err().contains("info: tcpClient: Connected\n") && pcom.err().contains(line), pcom.err().constData());
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
    QVERIFY(server.received() == up);
    server.send(down);
    QVERIFY(pcom.waitForStdoutSize(down.size(), 20000));
    QVERIFY(pcom.out() == down);

    pcom.interrupt();
    QVERIFY(pcom.waitForExit());
    QCOMPARE(pcom.exitCode(), 0);
    QTRY_VERIFY_WITH_TIMEOUT(server.isDisconnected(), 5000);
    // Quiet leaves out trace and progress lines only.
    QVERIFY(!pcom.err().contains("trace:") && !pcom.err().contains("progress:"));
    QVERIFY(pcom.err().contains("info: tcpClient: Connected\n"));
}

void tst_CliTcp::serverRelaysWithClients()
{
    PcomProcess pcom;
    pcom.start({"open", "tcpServer", "port=0"});
    QVERIFY2(pcom.waitForStderr("progress: pcom: opened the tcpServer port"), pcom.err().constData());
    const quint16 port = quint16(pcom.numberAfter("Server running on IP 127.0.0.1, port "));
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

// Like nc -l: the input is held until a client is there to take it, and all
// of it has left before the port closes the client.
void tst_CliTcp::serverHoldsInputForAClient()
{
    PcomProcess pcom;
    pcom.start({"open", "tcpServer", "address=any", "port=0", "-w", "0"});
    const QByteArray data = randomBytes(4 * 1024 * 1024, 3);
    pcom.write(data);
    pcom.closeStdin();
    QVERIFY2(pcom.waitForStderr("progress: pcom: opened the tcpServer port"), pcom.err().constData());
    // Nobody there to take the input yet: pcom must not give up on it.
    QVERIFY(!pcom.waitForExit(300));
    LoopbackPeer client;
    QVERIFY(client.connectTo(quint16(pcom.numberAfter("progress: tcpServer: Server running on IP any, port "))));
    QVERIFY(pcom.waitForExit(30000));
    QCOMPARE(pcom.exitCode(), 0);
    QTRY_VERIFY_WITH_TIMEOUT(client.isDisconnected(), 20000);
    QCOMPARE(client.received().size(), data.size());
    QVERIFY(client.received() == data);
}

// Like `socat TCP-LISTEN:N SYSTEM:'wc -c'`: a server that answers once its
// input ends. pcom ends its sending direction at the end of its input and
// prints the answer that follows. The server is a plain socket: Qt's own
// drop what they have not sent when their input ends.
void tst_CliTcp::halfCloseLetsTheServerAnswer()
{
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    QVERIFY(::bind(listener, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0 && ::listen(listener, 1) == 0
            && ::getsockname(listener, reinterpret_cast<sockaddr *>(&address), &length) == 0);
    std::thread server([listener] {
        pollfd ready{listener, POLLIN, 0};
        const int fd = ::poll(&ready, 1, 10000) == 1 ? ::accept(listener, nullptr, nullptr) : -1;
        ready.fd = fd;
        char buffer[256];
        ssize_t n = 0;
        int count = 0;
        while (fd >= 0 && ::poll(&ready, 1, 10000) == 1 && (n = ::read(fd, buffer, sizeof buffer)) > 0)
            count += int(n);
        if (fd >= 0 && n == 0) {
            const QByteArray answer = QByteArray::number(count) + '\n';
            (void)!::write(fd, answer.constData(), size_t(answer.size()));
        }
        if (fd >= 0)
            ::close(fd);
    });
    PcomProcess pcom;
    pcom.start(clientArgs(ntohs(address.sin_port)));
    pcom.write("twelve bytes");
    pcom.closeStdin();
    const bool exited = pcom.waitForExit();
    server.join();
    ::close(listener);
    QVERIFY(exited);
    QCOMPARE(pcom.out(), QByteArray("12\n"));
    QCOMPARE(pcom.exitCode(), 0);
}

// A server that reads 1,000 bytes and resets the connection: pcom says how
// many of the bytes it took were not written out, and exits 1.
void tst_CliTcp::resetAfterSomeBytesCountsTheRest()
{
    QTcpServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost));
    connect(&server, &QTcpServer::newConnection, &server, [&server]() {
        QTcpSocket *socket = server.nextPendingConnection();
        connect(socket, &QTcpSocket::readyRead, socket, [socket]() {
            // Closing with bytes unread resets the connection.
            if (socket->bytesAvailable() >= 1000 && socket->read(1000).size() == 1000)
                socket->abort();
        });
    });
    PcomProcess pcom;
    pcom.start(clientArgs(server.serverPort()) << "-q");
    const int total = 8 * 1024 * 1024;
    pcom.write(randomBytes(total, 4));
    QVERIFY(pcom.waitForExit(20000));
    QCOMPARE(pcom.exitCode(), 1);
    QVERIFY2(pcom.err().contains("error: the tcpClient link was closed by the peer ("), pcom.err().constData());
    // Qt cannot tell a reset from an orderly close: what pcom still held, or
    // what still waited on its standard input, tells.
    const int left = pcom.numberAfter("); ");
    const int taken = pcom.numberAfter(QByteArray::number(left) + " of ");
    const int waiting = qMax(0, pcom.numberAfter(" bytes from standard input were not written out, "));
    QVERIFY2(left + waiting > 0 && taken + waiting <= total && taken - left >= 1000, pcom.err().constData());
}

// pcom resolves a host name itself and takes IPv6 literals, as a client and
// as a server.
void tst_CliTcp::hostNameAndIpv6()
{
    const QList<QPair<QString, QHostAddress>> listeners{{"localhost", QHostAddress(QHostAddress::LocalHost)},
                                                        {"::1", QHostAddress(QHostAddress::LocalHostIPv6)}};
    for (const auto &listener : listeners) {
        QTcpServer server;
        QVERIFY(server.listen(listener.second));
        PcomProcess pcom;
        pcom.start(
            {"open", "tcpClient", "address=" + listener.first, QStringLiteral("port=%1").arg(server.serverPort())});
        pcom.write("ping");
        QVERIFY2(server.waitForNewConnection(10000), pcom.err().constData());
        QTcpSocket *peer = server.nextPendingConnection();
        QTRY_COMPARE_WITH_TIMEOUT(peer->bytesAvailable(), qint64(4), 5000);
        QCOMPARE(peer->readAll(), QByteArray("ping"));
        pcom.closeStdin();
        QVERIFY(pcom.waitForExit());
        QCOMPARE(pcom.exitCode(), 0);
    }

    PcomProcess pcom;
    pcom.start({"open", "tcpServer", "address=[::1]", "port=0"});
    QVERIFY2(pcom.waitForStderr("Server running on IP ::1, port "), pcom.err().constData());
    QTcpSocket client;
    client.connectToHost(QHostAddress::LocalHostIPv6, quint16(pcom.numberAfter("Server running on IP ::1, port ")));
    QVERIFY(client.waitForConnected(5000));
    client.write("over IPv6");
    QVERIFY(pcom.waitForStdout("over IPv6"));
    pcom.terminate();
    QVERIFY(pcom.waitForExit());
    QCOMPARE(pcom.exitCode(), 0);
}

QTEST_GUILESS_MAIN(tst_CliTcp)
#include "tst_cli_tcp.moc"
