#include "tests/support/LoopbackPeer.h"
#include "tests/support/PcomProcess.h"

#include <QtTest>

// CAN frames between pcom processes over Qt's "virtualcan" back-end. Its
// devices meet on a relay server that the first device opened starts on the
// port named in the interface URL; each test process picks a free loopback
// port of its own, so parallel runs never share a bus.
class tst_CliCan : public QObject
{
    Q_OBJECT
private slots:
    void framesBetweenTwoProcesses();
    void bridgeCarriesFramesAsLines();

private:
    QString device(int channel) const { return QStringLiteral("device=tcp://127.0.0.1:%1/can%2").arg(m_relayPort).arg(channel); }

    const quint16 m_relayPort = LoopbackPeer::freePort();
};

// The relay drops frames for a receiver that has not registered yet:
// probes go out until one arrives.
static const QByteArray probeLine("7FF#00\n");

static bool waitForBus(PcomProcess &sender, const std::function<bool(int)> &arrivedWithin)
{
    for (int attempt = 0; attempt < 100; ++attempt) {
        sender.write(probeLine);
        if (arrivedWithin(100))
            return true;
    }
    return false;
}

// The lines without the probes, and without a leading time stamp "(...) ".
static QByteArray withoutProbes(const QByteArray &lines)
{
    QByteArray out;
    for (QByteArray line : lines.split('\n')) {
        line = line.mid(line.startsWith('(') ? line.indexOf(") ") + 2 : 0);
        if (!line.isEmpty() && !line.startsWith("7FF#") && !line.contains("  7FF  "))
            out += line + '\n';
    }
    return out;
}

// Remote requests and extended identifiers arrive as sent; a receiver
// prints them in the candump form with its time, and only what its filters
// pass; what it sends back arrives in the cansend form. A line that is no
// frame is skipped and makes the run fail.
void tst_CliCan::framesBetweenTwoProcesses()
{
    PcomProcess receiver;
    receiver.start({"open", "canBus", "--can-plugin", "virtualcan", device(0), "--format", "candump",
                    "--timestamp=relative", "--filter", "7FF:7FF", "--filter", "123:7FF", "--filter",
                    "00000456:1FFFFFFF"});
    QVERIFY2(receiver.waitForStderr("progress: pcom: opened the canBus port"), receiver.err().constData());
    PcomProcess sender;
    sender.start({"open", "canBus", "--can-plugin", "virtualcan", device(0), "baudrate=500000"});
    QVERIFY(sender.waitForStderr("progress: pcom: opened the canBus port"));
    QVERIFY(waitForBus(sender, [&](int ms) { return receiver.waitForStdout("can0  7FF   [1]  00\n", ms); }));

    sender.write("123#DEADBEEF\n1F334455#11.22.33\nnot a frame\n123#R\n00000123#R4\n124#01\n00000456#AA\n456#BB\n"
                 "123#11\n");
    QVERIFY(receiver.waitForStdout("can0  123   [1]  11\n"));
    const QRegularExpression stamp(QStringLiteral("^(\\(\\d+\\.\\d{3}\\) .*)?$"));
    for (const QByteArray &line : receiver.out().split('\n'))
        QVERIFY2(stamp.match(QString::fromLatin1(line)).hasMatch(), line.constData());
    QCOMPARE(withoutProbes(receiver.out()),
             QByteArray("can0  123   [4]  DE AD BE EF\ncan0  123   [0]  remote request\n"
                        "can0  00000123   [4]  remote request\ncan0  00000456   [1]  AA\ncan0  123   [1]  11\n"));
    QVERIFY2(sender.waitForStderr("(skipped)"), sender.err().constData());
    QVERIFY(sender.err().contains(": no '#' between identifier and data (expected ID#DATA"));

    receiver.write("00000321#CA.FE\n");
    QVERIFY(sender.waitForStdout("00000321#CAFE\n"));
    QCOMPARE(withoutProbes(sender.out()), QByteArray("00000321#CAFE\n"));
    sender.closeStdin();
    QVERIFY(sender.waitForExit());
    QCOMPARE(sender.exitCode(), 1);
    QVERIFY(sender.err().endsWith("error: 1 input lines or frames were skipped\n"));
    receiver.terminate();
    QVERIFY(receiver.waitForExit());
    QCOMPARE(receiver.exitCode(), 0);
}

// A CAN bus served on a TCP server: frames become cansend lines and back.
void tst_CliCan::bridgeCarriesFramesAsLines()
{
    PcomProcess bridge;
    bridge.start({"bridge", "canBus", "interface=virtualcan", device(1), "--", "tcpServer", "port=0"});
    QVERIFY2(bridge.waitForStderr("progress: pcom: opened the canBus and tcpServer ports"), bridge.err().constData());
    LoopbackPeer client;
    QVERIFY(client.connectTo(quint16(bridge.numberAfter("Server running on IP 127.0.0.1, port "))));
    PcomProcess node;
    node.start({"open", "canBus", "--can-plugin", "virtualcan", device(1)});
    QVERIFY(node.waitForStderr("progress: pcom: opened the canBus port"));
    QVERIFY(waitForBus(node, [&](int ms) {
        node.waitForStdout("never", ms);
        return client.received().contains(probeLine);
    }));

    node.write("123#0102\n");
    QTRY_VERIFY_WITH_TIMEOUT(client.received().contains("123#0102\n"), 10000);
    QCOMPARE(withoutProbes(client.received()), QByteArray("123#0102\n"));
    client.send("456#03\nxyz\n00000800#FF\n");
    QVERIFY(node.waitForStdout("800#FF\n"));
    QCOMPARE(withoutProbes(node.out()), QByteArray("456#03\n00000800#FF\n"));
    QVERIFY2(bridge.err().contains("error: line 2 from tcpServer: "), bridge.err().constData());

    bridge.terminate();
    QVERIFY(bridge.waitForExit());
    QCOMPARE(bridge.exitCode(), 1);
    QVERIFY(bridge.err().contains("error: 1 lines or frames were skipped\n"));
    QVERIFY(bridge.err().contains("stats: tcpServer -> canBus: 2 bytes\n"));
}

QTEST_GUILESS_MAIN(tst_CliCan)
#include "tst_cli_can.moc"
