#include "PcomProcess.h"
#include "PseudoTerminal.h"

#include <QtTest>

// pcom open on a serial line: the line is one side of a pseudo-terminal
// pair, the test talks through the other.
class tst_CliSerial : public QObject
{
    Q_OBJECT
private slots:
    void bytesBothWaysUntilInputEnds();
    void hexBothWays();
    void signalClosesCleanly();
    void lineThatDoesNotOpen();
};

static QStringList serialArgs(const PseudoTerminal &pty, const QStringList &more = {})
{
    return QStringList{QStringLiteral("open"), QStringLiteral("com"), QStringLiteral("device=") + pty.slavePath(),
                       QStringLiteral("baudrate=115200")}
           + more;
}

static QByteArray everyByte(int rounds)
{
    QByteArray data;
    for (int r = 0; r < rounds; ++r) {
        for (int i = 0; i < 256; ++i)
            data.append(char(i));
    }
    return data;
}

void tst_CliSerial::bytesBothWaysUntilInputEnds()
{
    PseudoTerminal pty;
    QVERIFY(pty.isValid());
    PcomProcess pcom;
    pcom.start(serialArgs(pty));
    QVERIFY2(pcom.waitForStderr("pcom: opened the com port"), pcom.err().constData());

    // Binary safe in both directions.
    const QByteArray toLine = everyByte(16);
    pcom.write(toLine);
    QCOMPARE(pty.readMaster(toLine.size(), 10000), toLine);

    const QByteArray fromLine = everyByte(8);
    QVERIFY(pty.writeMaster(fromLine));
    QVERIFY(pcom.waitForStdoutSize(fromLine.size()));
    QCOMPARE(pcom.out(), fromLine);

    // The last bytes before the end of input still reach the line.
    pcom.write("last words");
    pcom.closeStdin();
    QCOMPARE(pty.readMaster(10, 10000), QByteArray("last words"));
    QVERIFY(pcom.waitForExit());
    QCOMPARE(pcom.exitCode(), 0);
    QVERIFY(pcom.err().contains("trace: Plugin_Com_Port(pts/"));
}

void tst_CliSerial::hexBothWays()
{
    PseudoTerminal pty;
    QVERIFY(pty.isValid());
    PcomProcess pcom;
    pcom.start(serialArgs(pty, {QStringLiteral("--hex"), QStringLiteral("-q")}));

    pcom.write("68 65 6c\nnot hex\n6c 6f 00 ff\n");
    QCOMPARE(pty.readMaster(7, 10000), QByteArray("hello\x00\xff", 7));
    QVERIFY(pcom.waitForStderr("input line 2:"));

    QVERIFY(pty.writeMaster("AB"));
    QVERIFY(pcom.waitForStdout("|AB|"));
    QVERIFY(pcom.out().startsWith("00000000  41 42 "));

    pcom.closeStdin();
    QVERIFY(pcom.waitForExit());
    QCOMPARE(pcom.exitCode(), 0);
    // Quiet: no trace or progress lines.
    QVERIFY(!pcom.err().contains("trace:"));
    QVERIFY(!pcom.err().contains("progress:"));
}

void tst_CliSerial::signalClosesCleanly()
{
    PseudoTerminal pty;
    QVERIFY(pty.isValid());
    PcomProcess pcom;
    pcom.start(serialArgs(pty));
    QVERIFY(pcom.waitForStderr("pcom: opened the com port"));
    pcom.write("before the signal");
    QCOMPARE(pty.readMaster(17, 10000), QByteArray("before the signal"));
    pcom.terminate();
    QVERIFY(pcom.waitForExit());
    QCOMPARE(pcom.exitCode(), 0);

    PcomProcess second;
    second.start(serialArgs(pty));
    QVERIFY(second.waitForStderr("pcom: opened the com port"));
    second.interrupt();
    QVERIFY(second.waitForExit());
    QCOMPARE(second.exitCode(), 0);
}

void tst_CliSerial::lineThatDoesNotOpen()
{
    QScopedPointer<PcomProcess> pcom(PcomProcess::run(
        {QStringLiteral("open"), QStringLiteral("com"), QStringLiteral("device=/dev/pcom-no-such-line")}));
    QCOMPARE(pcom->exitCode(), 1);
    QVERIFY2(pcom->err().contains("error: the com port did not open"), pcom->err().constData());
}

QTEST_GUILESS_MAIN(tst_CliSerial)
#include "tst_cli_serial.moc"
