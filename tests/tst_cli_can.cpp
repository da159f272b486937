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
    void framesBetweenProcesses();

private:
    const QString device = QStringLiteral("device=tcp://127.0.0.1:%1/can0").arg(LoopbackPeer::freePort());
};

static const QByteArray probeLine("7FF#00\n");

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

// Remote requests and extended identifiers arrive as sent. A receiver prints
// them in the candump form with its time, and only what its filters pass; a
// bus served on a TCP server carries every frame as a cansend line, and the
// lines its client sends as frames. A line that is no frame is skipped and
// makes the run fail.
void tst_CliCan::framesBetweenProcesses()
{
    PcomProcess receiver, bridge, sender;
    receiver.start({"open", "canBus", "--can-plugin", "virtualcan", device, "--format", "candump",
                    "--timestamp=relative", "--filter", "7FF:7FF", "--filter", "123:7FF", "--filter",
                    "00000456:1FFFFFFF"});
    QVERIFY2(receiver.waitForStderr("progress: pcom: opened the canBus port"), receiver.err().constData());
    bridge.start({"bridge", "canBus", "interface=virtualcan", device, "--", "tcpServer", "port=0"});
    sender.start({"open", "canBus", "--can-plugin", "virtualcan", device, "baudrate=500000"});
    for (PcomProcess *pcom : {&bridge, &sender})
        QVERIFY2(pcom->waitForStderr("progress: pcom: opened the canBus"), pcom->err().constData());
    LoopbackPeer client;
    QVERIFY(client.connectTo(quint16(bridge.numberAfter("Server running on IP 127.0.0.1, port "))));
    QVERIFY(bridge.waitForStderr("progress: tcpServer: New connection"));
    // The relay drops frames for a receiver that has not registered yet:
    // probes go out until one arrived at both.
    const auto arrived = [&] {
        return receiver.out().contains("can0  7FF   [1]  00\n") && client.received().contains(probeLine);
    };
    for (int attempt = 0; attempt < 100 && !QTest::qWaitFor(arrived, 100); ++attempt)
        sender.write(probeLine);
    QVERIFY(arrived());

    sender.write("123#DEADBEEF\n1F334455#11.22.33\nnot a frame\n123#R\n00000123#r4\n124#01\n00000456#AA\n456#BB\n"
                 "123#11\n");
    QVERIFY(receiver.waitForStdout("can0  123   [1]  11\n"));
    const QRegularExpression stamp(QStringLiteral("^(\\(\\d+\\.\\d{3}\\) .*)?$"));
    for (const QByteArray &line : receiver.out().split('\n'))
        QVERIFY2(stamp.match(QString::fromLatin1(line)).hasMatch(), line.constData());
    QCOMPARE(withoutProbes(receiver.out()),
             QByteArray("can0  123   [4]  DE AD BE EF\ncan0  123   [0]  remote request\n"
                        "can0  00000123   [4]  remote request\ncan0  00000456   [1]  AA\ncan0  123   [1]  11\n"));
    QTRY_COMPARE_WITH_TIMEOUT(withoutProbes(client.received()),
                              QByteArray("123#DEADBEEF\n1F334455#112233\n123#R\n00000123#R4\n124#01\n00000456#AA\n"
                                         "456#BB\n123#11\n"), 10000);
    QVERIFY(sender.waitForStderr("no '#' between identifier and data (expected ID#DATA, e.g. 123#DEADBEEF) (skipped)"));

    client.send("00000321#CA.FE\nxyz\n00000800#FF\n");
    QVERIFY(sender.waitForStdout("00000800#FF\n"));
    QCOMPARE(withoutProbes(sender.out()), QByteArray("00000321#CAFE\n00000800#FF\n"));
    QVERIFY2(bridge.err().contains("error: line 2 from tcpServer: "), bridge.err().constData());
    // The receiver runs the bus's relay: the bridge may lose its bus while
    // it stops, and still ends in order.
    receiver.terminate();
    bridge.terminate();
    QVERIFY(bridge.waitForExit() && receiver.waitForExit());
    QCOMPARE(receiver.exitCode(), 0);
    QCOMPARE(bridge.exitCode(), 1);
    QVERIFY(bridge.err().contains("error: 1 lines or frames were skipped\n"));
    QVERIFY(bridge.err().contains("stats: tcpServer -> canBus: 3 bytes\n"));
}

QTEST_GUILESS_MAIN(tst_CliCan)
#include "tst_cli_can.moc"
