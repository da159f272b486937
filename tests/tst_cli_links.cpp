#include "tests/support/LoopbackPeer.h"
#include "tests/support/PcomProcess.h"
#include "tests/support/PseudoTerminal.h"

#include <QNetworkDatagram>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QUdpSocket>
#include <QtTest>

#include <termios.h>
#include <sys/socket.h>
#include <unistd.h>

// pcom open and bridge end to end on each kind of link, where a process is
// what is tested: exit status, signals, a terminal, files, real peers. Serial
// lines through pseudo-terminal pairs (pySerial's RFC 2217 client on one), TCP
// and UDP through loopback peers, CAN between two pcom over virtualcan. The
// bridge itself: tst_bridge.
class tst_CliLinks : public QObject
{
    Q_OBJECT
private slots:
    void bytesBothWays_data();
    void bytesBothWays();
    void stalledSerialPeer();
    void endsOnTime_data();
    void endsOnTime();
    void serverHoldsInputForTheNextClient();
    void halfCloseLetsTheServerAnswer();
    void udpHexLinesAndDump();
    void canFramesBetweenProcesses();
    void canLogReplayed();
    void interactiveTerminal();
    void pacedOutput();
    void deviceAwaited();
    void rfc2217WithPyserial();
};

static QByteArray randomBytes(int size, quint32 seed)
{
    QByteArray data(size, Qt::Uninitialized);
    QRandomGenerator(seed).fillRange(reinterpret_cast<quint32 *>(data.data()), size / 4);
    return data;
}

// Every byte value up and down (random bytes); then the run ends as the row says, the last
// bytes before it still delivered.
void tst_CliLinks::bytesBothWays_data()
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
                                              << QByteArray("info: The server closed the connection.\n");
}

void tst_CliLinks::bytesBothWays()
{
    QFETCH(QString, kind);
    QFETCH(QString, end);
    QFETCH(int, exitCode);
    QFETCH(QByteArray, line);
    const bool com = kind == "com";
    PseudoTerminal pty;
    LoopbackPeer tcp;
    QVERIFY(com ? pty.isValid() : tcp.listen());
    QByteArray got;
    const auto fetch = [&] { return com ? got += pty.readMaster(1 << 20, 20) : got = tcp.received(); };
    PcomProcess pcom;
    // The device path and a custom rate are none of the options, but the port takes them.
    pcom.start(QStringList{"open", kind} + (com ? QStringList{"device=" + pty.slavePath(), "baudrate=12345", "--stop-bits",
                                                              "2", "--flow-control", "rtscts"}
                                                : QStringList{"address=localhost", QStringLiteral("port=%1").arg(tcp.serverPort()), "-q"}));
    const QByteArray up = randomBytes(1 << 17, 5), down = up.left(4096);
    pcom.write(up);
    QTRY_VERIFY_WITH_TIMEOUT(fetch().size() >= up.size(), 20000);
    QVERIFY(got == up);
    // The serial options as the line sees them.
    termios tio;
    QVERIFY(!com || (tcgetattr(pty.slaveFd(), &tio) == 0
                     && (tio.c_cflag & (CSTOPB | CRTSCTS | CSIZE | PARENB)) == (CSTOPB | CRTSCTS | CS8)));
    QTRY_VERIFY_WITH_TIMEOUT(tcp.hasConnection() || com, 5000);
    QVERIFY(com ? pty.writeMaster(down) : (tcp.send(down), true));
    QVERIFY(pcom.waitForStdout(down) && pcom.out() == down);

    // The master closed is the line gone; its descriptor then holds the slave, for the destructor.
    if (end == "peer" && com) {
        ::dup2(pty.slaveFd(), pty.masterFd());
    } else if (end == "peer") {
        tcp.close();
    } else {
        pcom.write("last words");
        if (end == "input")
            pcom.closeStdin();
        else
            QTRY_VERIFY_WITH_TIMEOUT(fetch().endsWith("last words"), 10000);
        if (end == "SIGINT")
            pcom.interrupt();
        else if (end == "SIGTERM")
            pcom.terminate();
    }
    QVERIFY(pcom.waitForExit());
    QCOMPARE(pcom.exitCode(), exitCode);
    QVERIFY2(pcom.err().contains(line) && (!com || end != "peer" || pcom.err().count(line) == 1), pcom.err().constData());
    // Quiet leaves out trace and progress lines only.
    QVERIFY(com || (!pcom.err().contains("trace:") && !pcom.err().contains("progress:")));
    if (end == "input")
        QTRY_VERIFY_WITH_TIMEOUT(fetch() == up + "last words", 10000);
}

// A serial peer that takes nothing holds pcom's reading back, so memory stays
// bounded; stopped, pcom counts what is left over exactly: what the peer got
// and what is left add up to what pcom took.
void tst_CliLinks::stalledSerialPeer()
{
    PseudoTerminal pty;
    QVERIFY(pty.isValid());
    PcomProcess pcom;
    pcom.start({"open", "com", "device=" + pty.slavePath(), "baudrate=4000000", "-q"});
    const QByteArray data = randomBytes(8 * 1024 * 1024, 7);
    pcom.write(data);
    pcom.closeStdin();
    // Time enough to take all of the input, were it not held back.
    QVERIFY(!pcom.waitForExit(1000));
    QCOMPARE(pcom.stop(), 1);
    const QByteArray got = pty.readMaster(data.size(), 1000);
    const int left = pcom.numberAfter("error: ");
    const int taken = pcom.numberAfter(QByteArray::number(left) + " of ");
    QVERIFY2(pcom.err().contains(" bytes from standard input were not written out to the com link (stopped"),
             pcom.err().constData());
    QVERIFY2(left > 0 && got.size() + left == taken && got == data.left(got.size()), pcom.err().constData());
    QVERIFY2(taken < 4 * 1024 * 1024, qPrintable(QString::number(taken)));
}

void tst_CliLinks::endsOnTime_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("end"); // --timeout or a signal
    QTest::newRow("--timeout, a server nobody joins") << "tcpServer" << "--timeout";
    QTest::newRow("--timeout, a peer that never reads") << "tcpClient" << "--timeout";
    QTest::newRow("SIGINT, a peer that never reads") << "tcpClient" << "SIGINT";
    QTest::newRow("SIGTERM while the connection does not come") << "tcpClient full" << "SIGTERM";
}

// However stuck the link, the total time and a stop signal end pcom on
// time, with the status of what was not delivered.
void tst_CliLinks::endsOnTime()
{
    QFETCH(QString, kind);
    QFETCH(QString, end);
    // A listener that accepts nothing: the kernel completes the first
    // connections, and nobody reads them; with its queue full, a connection
    // does not come at all.
    QTcpServer silent;
    silent.setMaxPendingConnections(0);
    QVERIFY(silent.listen(QHostAddress::LocalHost));
    silent.pauseAccepting();
    // Its connections take little, so that what pcom took waits in pcom.
    const int small = 4096;
    QVERIFY(::setsockopt(int(silent.socketDescriptor()), SOL_SOCKET, SO_RCVBUF, &small, sizeof small) == 0);
    std::vector<std::unique_ptr<QTcpSocket>> filling;
    for (int i = 0; kind.endsWith("full") && i < 300; ++i) {
        filling.push_back(std::make_unique<QTcpSocket>());
        filling.back()->connectToHost(QHostAddress::LocalHost, silent.serverPort());
    }
    const auto connected = [&] {
        return std::count_if(filling.begin(), filling.end(), [](const auto &s) { return s->state() == QAbstractSocket::ConnectedState; });
    };
    QTRY_VERIFY_WITH_TIMEOUT(!kind.endsWith("full") || connected() >= 50, 10000);
    const QString at = kind == "tcpServer" ? "port=0" : QStringLiteral("port=%1").arg(silent.serverPort());
    PcomProcess pcom;
    pcom.start({"open", kind.section(' ', 0, 0), "address=127.0.0.1", at, "--timeout", end == "--timeout" ? "1" : "60"});
    QVERIFY(pcom.waitForStderr("progress: pcom: opened the"));
    pcom.write(randomBytes(16 * 1024 * 1024, 1));
    // pcom has taken some of it.
    QTRY_VERIFY_WITH_TIMEOUT(pcom.inputWaiting() < 15 * 1024 * 1024, 20000);
    QElapsedTimer clock;
    clock.start();
    if (end != "--timeout")
        end == "SIGINT" ? pcom.interrupt() : pcom.terminate();
    QVERIFY(pcom.waitForExit(5000));
    QVERIFY2(clock.elapsed() < 2800, qPrintable(QString::number(clock.elapsed())));
    // After a signal, what the kernel took of a peer that never reads may be
    // all there was; the status still tells it.
    const bool lost = pcom.err().contains(" were not written out");
    QVERIFY2(pcom.exitCode() == (lost ? 1 : 0) && (lost || end == "SIGINT"), pcom.err().constData());
}

// Like nc -l: after a client left, the server takes the next one; the input
// is held until a client is there to take it, and all of it has left before
// the port closes the client.
void tst_CliLinks::serverHoldsInputForTheNextClient()
{
    PcomProcess pcom;
    QVERIFY2(pcom.startOpened({"open", "tcpServer", "address=127.0.0.1", "port=0", "-w", "0"}), pcom.err().constData());
    LoopbackPeer first, next;
    QVERIFY(first.connectTo(pcom.serverPort()) && pcom.waitForStderr("progress: tcpServer: New connection"));
    first.close();
    // Qt reports the remote close as a socket error; pcom knows it is none.
    QVERIFY(pcom.waitForStderr("info: The client closed the connection.\n"));
    const QByteArray data = randomBytes(4 * 1024 * 1024, 3);
    pcom.write(data);
    pcom.closeStdin();
    // Nobody there to take the input: pcom must not give up on it.
    QVERIFY(!pcom.waitForExit(300));
    QVERIFY(next.connectTo(pcom.serverPort()) && pcom.waitForExit(30000));
    QCOMPARE(pcom.exitCode(), 0);
    QTRY_VERIFY_WITH_TIMEOUT(next.isDisconnected(), 20000);
    QVERIFY(next.received() == data);
}

// Like `socat TCP-LISTEN:N SYSTEM:'wc -c'`: a server that answers once its
// input ends. pcom ends its sending direction at the end of its input and
// prints the answer that follows. The connection is taken as a plain
// descriptor: a QTcpSocket closes as soon as its input ends.
void tst_CliLinks::halfCloseLetsTheServerAnswer()
{
    QTcpServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost));
    server.pauseAccepting();
    PcomProcess pcom;
    pcom.start({"open", "tcpClient", "address=127.0.0.1", QStringLiteral("port=%1").arg(server.serverPort())});
    pcom.write("twelve bytes");
    pcom.closeStdin();
    int fd = -1;
    QByteArray got;
    const auto inputEnded = [&] {
        char buffer[256];
        fd = fd >= 0 ? fd : ::accept4(int(server.socketDescriptor()), nullptr, nullptr, SOCK_NONBLOCK);
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

// One line of hex, one datagram; a bad line is reported and left out, and
// makes the run fail. The dump's offset runs on over the whole output.
void tst_CliLinks::udpHexLinesAndDump()
{
    QUdpSocket peer;
    QVERIFY(peer.bind(QHostAddress(QHostAddress::LocalHost), 0));
    const quint16 pcomPort = LoopbackPeer::freePort();
    PcomProcess pcom;
    QVERIFY2(pcom.startOpened({"open", "udpClient", "bind-address=127.0.0.1", QStringLiteral("bind-port=%1").arg(pcomPort),
                               "address=127.0.0.1", QStringLiteral("port=%1").arg(peer.localPort()), "--hex"}),
             pcom.err().constData());
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
    QCOMPARE(peer.writeDatagram(QByteArray(20, 'z'), QHostAddress::LocalHost, pcomPort), qint64(20));
    QVERIFY(pcom.waitForStdout("00000015  7a 7a 7a 7a"));
    QVERIFY(pcom.out().startsWith("00000000  68 65 6c 6c 6f                                    |hello|\n"));
    QCOMPARE(pcom.stop(), 1);
    QVERIFY(pcom.err().endsWith("error: 1 input lines or frames were skipped\n"));
}

// CAN frames between two pcom over Qt's "virtualcan" back-end, whose relay
// the first device opened starts on the port in the URL: one of this test's
// own. Remote requests and extended identifiers arrive as sent. The receiver
// prints them in the candump form with its time, and only what its filters
// pass; the sender prints what it receives as cansend lines. A line that is
// no frame is skipped and makes the run fail.
void tst_CliLinks::canFramesBetweenProcesses()
{
    const QString device = QStringLiteral("device=tcp://127.0.0.1:%1/can0").arg(LoopbackPeer::freePort());
    PcomProcess receiver, sender;
    QVERIFY2(receiver.startOpened({"open", "canBus", "--can-plugin", "virtualcan", device, "--format", "candump",
                                   "--timestamp=relative", "--filter", "7FF:7FF", "--filter", "123:7FF", "--filter",
                                   "00000456:1FFFFFFF"}), receiver.err().constData());
    QVERIFY2(sender.startOpened({"open", "canBus", "--can-plugin", "virtualcan", device, "baudrate=500000"}),
             sender.err().constData());
    // The relay drops frames for a receiver it has not registered yet: probes
    // go out until one arrived.
    for (int attempt = 0; attempt < 100 && !receiver.waitForStdout("can0  7FF   [1]  00\n", 100); ++attempt)
        sender.write("7FF#00\n");
    sender.write("123#DEADBEEF\n1F334455#11.22.33\nnot a frame\n123#R\n00000123#r4\n124#01\n00000456#AA\n456#BB\n"
                 "123#11\n");
    QVERIFY(receiver.waitForStdout("can0  123   [1]  11\n"));
    const QRegularExpression stamp(QStringLiteral("^\\(\\d+\\.\\d{3}\\) "), QRegularExpression::MultilineOption);
    QString shown = QString::fromLatin1(receiver.out());
    QCOMPARE(shown.count(stamp), shown.count('\n'));
    shown.remove(stamp).remove(QRegularExpression(QStringLiteral("^can0  7FF .*\n"), QRegularExpression::MultilineOption));
    QCOMPARE(shown, QString("can0  123   [4]  DE AD BE EF\ncan0  123   [0]  remote request\n"
                            "can0  00000123   [4]  remote request\ncan0  00000456   [1]  AA\ncan0  123   [1]  11\n"));
    QVERIFY(sender.waitForStderr("no '#' between identifier and data (expected ID#DATA, e.g. 123#DEADBEEF) (skipped)"));

    receiver.write("00000321#CA.FE\n00000800#FF\n");
    QVERIFY(sender.waitForStdout("00000800#FF\n"));
    QCOMPARE(sender.out(), QByteArray("00000321#CAFE\n00000800#FF\n"));
    sender.closeStdin();
    QVERIFY(sender.waitForExit());
    QCOMPARE(sender.exitCode(), 1);
    QVERIFY(sender.err().endsWith("error: 1 input lines or frames were skipped\n"));
    QCOMPARE(receiver.stop(), 0);
}

// The frames and the gaps between them (microseconds) of a candump -L log.
static QList<QPair<QByteArray, qint64>> logRecords(const QString &fileName)
{
    QFile file(fileName);
    QList<QPair<QByteArray, qint64>> out;
    const QRegularExpression record(QStringLiteral("^\\((\\d+)\\.(\\d{6})\\) can0 (\\S+)$"));
    qint64 last = -1;
    for (const QByteArray &line : (file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray()).split('\n')) {
        const QRegularExpressionMatch m = record.match(QString::fromLatin1(line));
        if (!m.hasMatch())
            continue;
        const qint64 time = m.captured(1).toLongLong() * 1000000 + m.captured(2).toLongLong();
        out.append({m.captured(3).toLatin1(), last < 0 ? 0 : time - last});
        last = time;
    }
    return out;
}

// A candump -L log that pcom wrote is played back by pcom with the same
// frames and gaps (each at least as recorded, less the relay's jitter, and
// at most 150 ms more), on a virtual bus whose relay pcom canbus-server runs:
// the bus outlives every pcom that used it.
void tst_CliLinks::canLogReplayed()
{
    QTemporaryDir dir;
    const QString port = QString::number(LoopbackPeer::freePort());
    const QString device = QStringLiteral("device=tcp://127.0.0.1:%1/can0").arg(port);
    PcomProcess relay;
    relay.start({"canbus-server", port});
    QVERIFY2(relay.waitForStderr("relay runs on 127.0.0.1:" + port.toLatin1()), relay.err().constData());
    QString source = dir.filePath(QStringLiteral("given.log"));
    QFile given(source);
    QVERIFY(given.open(QIODevice::WriteOnly));
    given.write("(100.000000) can0 123#01\n(100.300000) can0 00000456#AABB\n# note\n\n(100.400000) can0 123#R\n");
    given.close();
    const QList<QPair<QByteArray, qint64>> expected{{"123#01", 0}, {"00000456#AABB", 300000}, {"123#R", 100000}};
    // Our log, then the one that pcom wrote while it was replayed.
    for (int round = 0; round < 2; ++round) {
        const QString written = dir.filePath(QStringLiteral("round%1.log").arg(round));
        PcomProcess recorder;
        QVERIFY2(recorder.startOpened({"open", "canBus", "--can-plugin", "virtualcan", device, "--log", written,
                                       "--log-format", "candump"}), recorder.err().constData());
        QScopedPointer<PcomProcess> replay(
            PcomProcess::run({"open", "canBus", "--can-plugin", "virtualcan", device, "--replay", source, "-w", "0"}));
        QCOMPARE(replay->exitCode(), 0);
        QVERIFY(recorder.waitForStdout("123#R\n"));
        QCOMPARE(recorder.stop(), 0);
        const QList<QPair<QByteArray, qint64>> got = logRecords(written);
        QCOMPARE(got.size(), expected.size());
        for (int i = 0; i < got.size(); ++i) {
            QCOMPARE(got[i].first, expected[i].first);
            const qint64 gap = got[i].second, recorded = expected[i].second;
            QVERIFY2(i == 0 || (gap > recorded - 30000 && gap < recorded + 150000), qPrintable(QString::number(gap)));
        }
        source = written;
    }
    QCOMPARE(relay.stop(), 0);
}

// pcom as a terminal: interactive mode on a pseudo-terminal as standard
// input, with time stamps, a line-end map and a session log. The --init text
// goes first; each key leaves as it is typed, Ctrl-C included, line ends mapped; received lines are
// stamped after their line ends were mapped; the log holds both directions as
// they went, stamped and marked; Ctrl-T q ends pcom in order, and the terminal
// is as it was.
void tst_CliLinks::interactiveTerminal()
{
    PseudoTerminal pty;
    QTemporaryDir dir;
    QVERIFY(pty.isValid());
    termios before;
    QCOMPARE(tcgetattr(pty.slaveFd(), &before), 0);
    before.c_lflag |= ICANON | ECHO | ISIG;
    before.c_iflag |= ICRNL | IXON;
    QCOMPARE(tcsetattr(pty.slaveFd(), TCSANOW, &before), 0);
    QCOMPARE(tcgetattr(pty.slaveFd(), &before), 0);

    LoopbackPeer server;
    QVERIFY(server.listen());
    const QString logFile = dir.filePath(QStringLiteral("session.log"));
    PcomProcess pcom;
    pcom.setStandardInputFile(pty.slavePath());
    pcom.start({"open", "tcpClient", "address=127.0.0.1", QStringLiteral("port=%1").arg(server.serverPort()),
                "--timestamp", "--map", "igncr,onlcr", "--log", logFile, "--init", "AT\\r"});
    QVERIFY2(pcom.waitForStderr("pcom: interactive; Ctrl-T ? lists the commands"), pcom.err().constData());
    QTRY_VERIFY_WITH_TIMEOUT(server.hasConnection(), 5000);
    termios raw;
    QCOMPARE(tcgetattr(pty.slaveFd(), &raw), 0);
    QVERIFY(!(raw.c_lflag & (ICANON | ECHO | ISIG)));

    QVERIFY(pty.writeMaster("ab\x03\n"));
    QTRY_COMPARE_WITH_TIMEOUT(server.received(), QByteArray("AT\rab\x03\r\n"), 5000);
    server.send("one\r\ntwo\r\n");
    QVERIFY(pcom.waitForStdout("] two\n"));
    const QString stamp = QStringLiteral("\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3}");
    const QRegularExpression shown(QStringLiteral("^\\[%1\\] one\\n\\[%1\\] two\\n$").arg(stamp));
    QVERIFY2(shown.match(QString::fromLatin1(pcom.out())).hasMatch(), pcom.out().constData());
    // Ctrl-T twice is one Ctrl-T for the peer; Ctrl-T ? lists the commands.
    QVERIFY(pty.writeMaster("\x14\x14\x14?\x14" "b"));
    QVERIFY(pcom.waitForStderr("q quit"));
    QVERIFY(pcom.waitForStderr("warning: pcom: the tcpClient link has no break; a break goes on serial lines only\n"));
    QVERIFY(pty.writeMaster("\x14q"));
    QVERIFY(pcom.waitForExit());
    QCOMPARE(pcom.exitCode(), 0);
    QCOMPARE(server.received(), QByteArray("AT\rab\x03\r\n\x14"));
    QCOMPARE(tcgetattr(pty.slaveFd(), &raw), 0);
    QVERIFY(raw.c_lflag == before.c_lflag && raw.c_iflag == before.c_iflag && raw.c_oflag == before.c_oflag
            && raw.c_cflag == before.c_cflag);

    // Every line a record, both directions stamped and marked.
    QFile log(logFile);
    QVERIFY(log.open(QIODevice::ReadOnly));
    const QString text = QString::fromLatin1(log.readAll());
    const QRegularExpression record(QStringLiteral("^%1 ([<>]) (.*)$").arg(stamp), QRegularExpression::MultilineOption);
    QString both[2];
    int records = 0;
    for (auto it = record.globalMatch(text); it.hasNext(); ++records) {
        const QRegularExpressionMatch m = it.next();
        both[m.captured(1) == QLatin1String("<")] += m.captured(2);
    }
    QCOMPARE(records, text.count(QLatin1Char('\n')));
    QCOMPARE(both[0], QStringLiteral("AT\\rab\\x03\\r\\n\\x14"));
    QCOMPARE(both[1], QStringLiteral("one\\r\\ntwo\\r\\n"));
}

// --char-delay and --line-delay send bytes one by one, with a longer pause
// after a line end: from "a" to "c" at least 40 + 40 + 40 + 200 ms (less the
// 50 ms by which the first arrival may be seen late).
void tst_CliLinks::pacedOutput()
{
    LoopbackPeer server;
    QVERIFY(server.listen());
    PcomProcess pcom;
    pcom.start({"open", "tcpClient", "address=127.0.0.1", QStringLiteral("port=%1").arg(server.serverPort()),
                "--char-delay", "40", "--line-delay", "200", "-w", "0"});
    pcom.write("ab\ncd\n");
    pcom.closeStdin();
    QTRY_VERIFY_WITH_TIMEOUT(!server.received().isEmpty(), 10000);
    QElapsedTimer clock;
    clock.start();
    QTRY_VERIFY_WITH_TIMEOUT(server.received().contains('c'), 10000);
    QVERIFY2(clock.elapsed() >= 270, qPrintable(QString::number(clock.elapsed())));
    QVERIFY(pcom.waitForExit());
    QCOMPARE(pcom.exitCode(), 0);
    QCOMPARE(server.received(), QByteArray("ab\ncd\n"));
}

// --wait-device: a serial device that is not there yet is opened once it appears.
void tst_CliLinks::deviceAwaited()
{
    PseudoTerminal pty;
    QTemporaryDir dir;
    const QString line = dir.filePath(QStringLiteral("line"));
    PcomProcess pcom;
    pcom.start({"open", "com", "device=" + line, "--wait-device"});
    QVERIFY2(pcom.waitForStderr("pcom: waiting for " + line.toUtf8() + " to appear"), pcom.err().constData());
    QVERIFY(QFile::link(pty.slavePath(), line));
    QVERIFY(pcom.waitForStderr("pcom: opened the com port"));
    QCOMPARE(pcom.stop(), 0);
}

// pcom bridge --rfc2217 against pySerial's client: the settings it makes,
// every byte value both ways (the protocol itself: tst_rfc2217).
void tst_CliLinks::rfc2217WithPyserial()
{
    PseudoTerminal pty;
    QVERIFY(pty.isValid());
    PcomProcess bridge;
    QVERIFY2(bridge.startOpened({"bridge", "com", "device=" + pty.slavePath(), "baudrate=9600", "--", "tcpServer",
                                 "address=127.0.0.1", "port=0", "--rfc2217"}), bridge.err().constData());
    QProcess client;
    client.start(PCOM_PYTHON, {PCOM_RFC2217_CLIENT, QString::number(bridge.serverPort())});
    QTRY_VERIFY2_WITH_TIMEOUT(client.canReadLine(), client.readAllStandardError().constData(), 20000);
    // A pseudo-terminal has no modem lines: CTS is down.
    QCOMPARE(client.readLine(), QByteArray("set cts=False\n"));
    termios line{};
    QVERIFY(tcgetattr(pty.slaveFd(), &line) == 0 && cfgetospeed(&line) == B57600);
    QCOMPARE(line.c_cflag & (CSTOPB | CRTSCTS | CSIZE), tcflag_t(CSTOPB | CRTSCTS | CS8));
    client.write("go\n");

    // Every byte value twice, 0xFF included, echoed.
    const QByteArray twice = pty.readMaster(512, 10000);
    QCOMPARE(twice.size(), 512);
    for (int i = 0; i < 512; ++i)
        QCOMPARE(quint8(twice[i]), quint8(i));
    QVERIFY(pty.writeMaster(twice));
    QVERIFY(client.waitForFinished(30000));
    const QByteArray said = client.readAllStandardOutput() + client.readAllStandardError();
    QVERIFY2(client.exitCode() == 0 && said.contains("done"), said.constData());
    QCOMPARE(bridge.stop(), 0);
}

QTEST_GUILESS_MAIN(tst_CliLinks)
#include "tst_cli_links.moc"
