#include "tests/support/LoopbackPeer.h"
#include "tests/support/PcomProcess.h"
#include "tests/support/PseudoTerminal.h"

#include <QNetworkDatagram>
#include <QRandomGenerator>
#include <QTcpServer>
#include <QUdpSocket>
#include <QtTest>

#include <termios.h>
#include <sys/socket.h>
#include <unistd.h>

// pcom open and pcom bridge on the byte-stream links, end to end: serial
// lines through a pseudo-terminal pair, TCP and UDP through loopback peers.
class tst_CliStreams : public QObject
{
    Q_OBJECT
private slots:
    void bytesBothWays_data();
    void bytesBothWays();
    void slowSerialPeer_data();
    void slowSerialPeer();
    void serverHoldsInputForTheNextClient();
    void halfCloseLetsTheServerAnswer();
    void udpHexLinesAndDump();
    void bridgeBothWaysUntilPeerCloses();
};

static QByteArray randomBytes(int size, quint32 seed)
{
    QByteArray data(size, Qt::Uninitialized);
    QRandomGenerator(seed).fillRange(reinterpret_cast<quint32 *>(data.data()), size / 4);
    return data;
}

// Every byte value up, more than a datagram holds; every byte value down;
// then the run ends as the row says, the last bytes before it still delivered.
void tst_CliStreams::bytesBothWays_data()
{
    QTest::addColumn<QString>("kind");
    // input, SIGINT, SIGTERM, or peer: the peer closes.
    QTest::addColumn<QString>("end");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QByteArray>("line");
    QTest::newRow("com, input ends") << "com" << "input" << 0 << QByteArray("trace: Plugin_Com_Port(pts/");
    QTest::newRow("com, SIGTERM") << "com" << "SIGTERM" << 0 << QByteArray("pcom: opened the com port");
    // As when an adapter is pulled: one line with the reason.
    QTest::newRow("com, line gone") << "com" << "peer" << 1 << QByteArray("error: the com link was lost: ");
    QTest::newRow("tcpClient by name, SIGINT") << "tcpClient" << "SIGINT" << 0
                                               << QByteArray("info: tcpClient: Connected\n");
    QTest::newRow("tcpClient, server closes") << "tcpClient" << "peer" << 0
                                              << QByteArray("critical: The server closed the connection.\n");
    QTest::newRow("udpClient, input ends") << "udpClient" << "input" << 0
                                           << QByteArray("info: udpClient: Disconnected\n");
}

void tst_CliStreams::bytesBothWays()
{
    QFETCH(QString, kind);
    QFETCH(QString, end);
    QFETCH(int, exitCode);
    QFETCH(QByteArray, line);
    PseudoTerminal pty;
    LoopbackPeer tcp;
    QUdpSocket udp;
    const quint16 udpPort = LoopbackPeer::freePort();
    QByteArray got;
    std::function<void(const QByteArray &)> send;
    std::function<void()> fetch, closePeer;
    QStringList args{"open", kind};
    if (kind == "com") {
        QVERIFY(pty.isValid());
        // The device path and a custom rate are none of the options, but the port takes them.
        args << "device=" + pty.slavePath() << "baudrate=12345" << "--stop-bits" << "2" << "--flow-control" << "rtscts";
        send = [&](const QByteArray &data) { pty.writeMaster(data); };
        fetch = [&] { got += pty.readMaster(1 << 20, 20); };
        // The master closed is the line gone; its descriptor then holds the slave, for the destructor.
        closePeer = [&] { ::dup2(pty.slaveFd(), pty.masterFd()); };
    } else if (kind == "tcpClient") {
        QVERIFY(tcp.listen());
        args << "address=localhost" << QStringLiteral("port=%1").arg(tcp.serverPort()) << "-q";
        send = [&](const QByteArray &data) { tcp.send(data); };
        fetch = [&] { got = tcp.received(); };
        closePeer = [&] { tcp.close(); };
    } else {
        QVERIFY(udp.bind(QHostAddress(QHostAddress::LocalHost), 0));
        udp.setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, 1 << 20);
        args << "bind-address=127.0.0.1" << QStringLiteral("bind-port=%1").arg(udpPort) << "address=127.0.0.1"
             << QStringLiteral("port=%1").arg(udp.localPort());
        send = [&](const QByteArray &data) { udp.writeDatagram(data, QHostAddress::LocalHost, udpPort); };
        fetch = [&] {
            while (udp.hasPendingDatagrams())
                got += udp.receiveDatagram().data();
        };
    }
    PcomProcess pcom;
    pcom.start(args);
    if (kind == "tcpClient") {
        QTRY_VERIFY_WITH_TIMEOUT(tcp.hasConnection(), 10000);
    } else {
        QVERIFY2(pcom.waitForStderr("progress: pcom: opened the " + kind.toUtf8() + " port"), pcom.err().constData());
    }

    QByteArray everyByte(256, '\0');
    for (int i = 0; i < 256; ++i)
        everyByte[i] = char(i);
    const QByteArray up = everyByte.repeated(300);
    pcom.write(up);
    QTRY_VERIFY_WITH_TIMEOUT((fetch(), got.size() >= up.size()), 20000);
    QVERIFY(got == up);
    // The serial options as the line sees them.
    termios tio;
    QVERIFY(kind != "com" || (tcgetattr(pty.slaveFd(), &tio) == 0 && (tio.c_cflag & (CSTOPB | CRTSCTS | CSIZE | PARENB))
                                                                          == (CSTOPB | CRTSCTS | CS8)));
    const QByteArray down = everyByte.repeated(8);
    send(down);
    QVERIFY(pcom.waitForStdout(down) && pcom.out() == down);

    if (end == "peer") {
        closePeer();
    } else {
        pcom.write("last words");
        if (end == "input")
            pcom.closeStdin();
        else
            QTRY_VERIFY_WITH_TIMEOUT((fetch(), got.endsWith("last words")), 10000);
        if (end == "SIGINT")
            pcom.interrupt();
        else if (end == "SIGTERM")
            pcom.terminate();
    }
    QVERIFY(pcom.waitForExit());
    QCOMPARE(pcom.exitCode(), exitCode);
    QVERIFY2(pcom.err().contains(line), pcom.err().constData());
    QVERIFY(kind != "com" || end != "peer" || pcom.err().count(line) == 1);
    // Quiet leaves out trace and progress lines only.
    QVERIFY(!args.contains("-q") || (!pcom.err().contains("trace:") && !pcom.err().contains("progress:")));
    if (end == "input")
        QTRY_VERIFY_WITH_TIMEOUT((fetch(), got == up + "last words"), 10000);
}

// A peer that takes the line's bytes slowly (a device holding its line
// back) gets every byte before pcom closes. One that takes none holds pcom's
// reading back, so memory stays bounded; when pcom is stopped it counts what
// is left over exactly: what the peer got and what is left add up to what
// pcom took.
void tst_CliStreams::slowSerialPeer_data()
{
    QTest::addColumn<int>("bytesPerTick");
    QTest::addColumn<int>("total");
    QTest::newRow("reads 200 kB/s") << 2000 << 256 * 1024;
    QTest::newRow("reads nothing, then SIGTERM") << 0 << 8 * 1024 * 1024;
}

void tst_CliStreams::slowSerialPeer()
{
    QFETCH(int, bytesPerTick);
    QFETCH(int, total);
    PseudoTerminal pty;
    QVERIFY(pty.isValid());
    PcomProcess pcom;
    pcom.start({"open", "com", "device=" + pty.slavePath(), "baudrate=4000000", "-w", "0.1", "-q"});
    const QByteArray data = randomBytes(total, 7);
    pcom.write(data);
    pcom.closeStdin();
    QByteArray got;
    QTimer reader;
    QObject::connect(&reader, &QTimer::timeout, [&]() {
        QByteArray chunk(bytesPerTick, Qt::Uninitialized);
        const ssize_t n = ::read(pty.masterFd(), chunk.data(), size_t(chunk.size()));
        got += chunk.left(int(qMax<ssize_t>(n, 0)));
    });
    reader.start(10);
    if (bytesPerTick == 0) {
        // Time enough to take all of the input, were it not held back.
        QVERIFY(!pcom.waitForExit(1000));
        pcom.terminate();
    }
    QVERIFY(pcom.waitForExit(20000));
    reader.stop();
    got += pty.readMaster(total, 1000);
    QCOMPARE(pcom.exitCode(), bytesPerTick > 0 ? 0 : 1);
    QVERIFY(bytesPerTick == 0 || got == data);
    if (bytesPerTick > 0)
        return;
    const int left = pcom.numberAfter("error: ");
    const int taken = pcom.numberAfter(QByteArray::number(left) + " of ");
    QVERIFY2(pcom.err().contains(" bytes from standard input were not written out to the com link (stopped"),
             pcom.err().constData());
    QVERIFY2(left > 0 && got.size() + left == taken && got == data.left(got.size()), pcom.err().constData());
    QVERIFY2(taken < 4 * 1024 * 1024, qPrintable(QString::number(taken)));
}

// Like nc -l: after a client left, the server takes the next one; the input
// is held until a client is there to take it, and all of it has left before
// the port closes the client.
void tst_CliStreams::serverHoldsInputForTheNextClient()
{
    PcomProcess pcom;
    pcom.start({"open", "tcpServer", "address=any", "port=0", "-w", "0"});
    QVERIFY2(pcom.waitForStderr("progress: pcom: opened the tcpServer port"), pcom.err().constData());
    const quint16 port = quint16(pcom.numberAfter("progress: tcpServer: Server running on IP any, port "));
    LoopbackPeer first;
    QVERIFY(first.connectTo(port));
    QVERIFY(pcom.waitForStderr("progress: tcpServer: New connection"));
    first.close();
    // Qt reports the remote close as a socket error.
    QVERIFY(pcom.waitForStderr("error: The client closed the connection.\n"));

    const QByteArray data = randomBytes(4 * 1024 * 1024, 3);
    pcom.write(data);
    pcom.closeStdin();
    // Nobody there to take the input: pcom must not give up on it.
    QVERIFY(!pcom.waitForExit(300));
    LoopbackPeer next;
    QVERIFY(next.connectTo(port));
    QVERIFY(pcom.waitForExit(30000));
    QCOMPARE(pcom.exitCode(), 0);
    QTRY_VERIFY_WITH_TIMEOUT(next.isDisconnected(), 20000);
    QVERIFY(next.received() == data);
}

// Like `socat TCP-LISTEN:N SYSTEM:'wc -c'`: a server that answers once its
// input ends. pcom ends its sending direction at the end of its input and
// prints the answer that follows.
void tst_CliStreams::halfCloseLetsTheServerAnswer()
{
    QTcpServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost));
    // The connection is taken as a plain descriptor: a QTcpSocket closes as
    // soon as its input ends, and could not answer then.
    server.pauseAccepting();
    PcomProcess pcom;
    pcom.start({"open", "tcpClient", "address=127.0.0.1", QStringLiteral("port=%1").arg(server.serverPort())});
    pcom.write("twelve bytes");
    pcom.closeStdin();
    int fd = -1;
    QByteArray got;
    const auto inputEnded = [&] {
        if (fd < 0)
            fd = ::accept4(int(server.socketDescriptor()), nullptr, nullptr, SOCK_NONBLOCK);
        char buffer[256];
        const ssize_t n = fd < 0 ? -1 : ::read(fd, buffer, sizeof buffer);
        got += QByteArray(buffer, int(qMax<ssize_t>(n, 0)));
        return n == 0;
    };
    QTRY_VERIFY_WITH_TIMEOUT(inputEnded(), 10000);
    QCOMPARE(got, QByteArray("twelve bytes"));
    QCOMPARE(::write(fd, "12\n", 3), ssize_t(3));
    ::close(fd);
    QVERIFY(pcom.waitForExit());
    QCOMPARE(pcom.out(), QByteArray("12\n"));
    QCOMPARE(pcom.exitCode(), 0);
}

void tst_CliStreams::udpHexLinesAndDump()
{
    QUdpSocket peer;
    QVERIFY(peer.bind(QHostAddress(QHostAddress::LocalHost), 0));
    const quint16 pcomPort = LoopbackPeer::freePort();
    PcomProcess pcom;
    pcom.start({"open", "udpClient", "bind-address=127.0.0.1", QStringLiteral("bind-port=%1").arg(pcomPort),
                "address=127.0.0.1", QStringLiteral("port=%1").arg(peer.localPort()), "--hex"});
    QVERIFY2(pcom.waitForStderr("progress: pcom: opened the udpClient port"), pcom.err().constData());

    // One line of hex, one datagram; a bad line is reported and left out.
    pcom.write("01 02 03\n\n0a0b\nnot hex\n00\n");
    QList<QByteArray> datagrams;
    const auto collect = [&] {
        while (peer.hasPendingDatagrams())
            datagrams << peer.receiveDatagram().data();
        return datagrams.size();
    };
    QTRY_COMPARE_WITH_TIMEOUT(collect(), 3, 10000);
    QCOMPARE(datagrams, (QList<QByteArray>{"\x01\x02\x03", "\x0a\x0b", QByteArray(1, '\0')}));
    QVERIFY(pcom.waitForStderr("error: input line 4:"));

    QCOMPARE(peer.writeDatagram("hello", QHostAddress::LocalHost, pcomPort), qint64(5));
    // The dump's offset runs on over the whole output.
    QCOMPARE(peer.writeDatagram(QByteArray(20, 'z'), QHostAddress::LocalHost, pcomPort), qint64(20));
    QVERIFY(pcom.waitForStdout("00000015  7a 7a 7a 7a"));
    QVERIFY(pcom.out().startsWith("00000000  68 65 6c 6c 6f                                    |hello|\n"));
    pcom.terminate();
    QVERIFY(pcom.waitForExit());
    // The skipped line makes the run fail, with its count.
    QCOMPARE(pcom.exitCode(), 1);
    QVERIFY(pcom.err().endsWith("error: 1 input lines or frames were skipped\n"));
}

// A source client connects to the bridge's TCP server, the bridge's TCP
// client to a sink server. What the sink sends before the source is there is
// dropped and counted, but for what --hold keeps for the next client. When one
// side's peer goes, what it sent last still reaches the other side, then the
// bridge closes that side too and ends: the sink's last bytes are more than
// the bridge holds at once, so some are still on their way when the sink goes.
void tst_CliStreams::bridgeBothWaysUntilPeerCloses()
{
    LoopbackPeer sink;
    QVERIFY(sink.listen());
    PcomProcess bridge;
    bridge.start({"bridge", "tcpServer", "port=0", "--hold", "1000", "--", "tcpClient", "address=127.0.0.1",
                  QStringLiteral("port=%1").arg(sink.serverPort()), "--stats", "0.2"});
    QVERIFY2(bridge.waitForStderr("progress: pcom: opened the tcpServer and tcpClient ports"), bridge.err().constData());
    QTRY_VERIFY_WITH_TIMEOUT(sink.hasConnection(), 10000);
    const QByteArray early = randomBytes(5000, 13);
    sink.send(early);
    QVERIFY2(bridge.waitForStderr("stats: tcpClient -> tcpServer: 0 bytes, 4000 dropped\n"), bridge.err().constData());
    LoopbackPeer source;
    QVERIFY(source.connectTo(quint16(bridge.numberAfter("Server running on IP 127.0.0.1, port "))));
    QVERIFY(bridge.waitForStderr("progress: tcpServer: New connection"));
    QTRY_COMPARE_WITH_TIMEOUT(source.received(), early.left(1000), 5000);

    const QByteArray forth = randomBytes(1024 * 1024, 11);
    const QByteArray back = randomBytes(8 * 1024 * 1024, 12);
    source.send(forth);
    QTRY_VERIFY_WITH_TIMEOUT(sink.received().size() >= forth.size(), 60000);
    QVERIFY(sink.received() == forth);
    // Periodic counts while it runs.
    QVERIFY(bridge.waitForStderr("stats: tcpServer -> tcpClient: 1048576 bytes\n"));

    sink.send(back);
    sink.close();
    QVERIFY(bridge.waitForExit(60000));
    QCOMPARE(bridge.exitCode(), 0);
    QTRY_VERIFY_WITH_TIMEOUT(source.isDisconnected(), 5000);
    QVERIFY(source.received() == early.left(1000) + back);
    QVERIFY2(bridge.err().contains("info: the tcpClient link was closed")
                 && bridge.err().endsWith("stats: tcpServer -> tcpClient: 1048576 bytes\n"
                                          "stats: tcpClient -> tcpServer: 8389608 bytes, 4000 dropped\n"),
             bridge.err().constData());
}

QTEST_GUILESS_MAIN(tst_CliStreams)
#include "tst_cli_streams.moc"
