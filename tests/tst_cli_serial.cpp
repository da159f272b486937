#include "tests/support/PcomProcess.h"
#include "tests/support/PseudoTerminal.h"

#include <QtTest>

// pcom open on a serial line: the line is one side of a pseudo-terminal
// pair, the test talks through the other.
class tst_CliSerial : public QObject
{
    Q_OBJECT
private slots:
    void bytesBothWaysUntilInputEnds();
    void signalClosesCleanly();
};

static QStringList serialArgs(const PseudoTerminal &pty, const QStringList &more = {"baudrate=115200"})
{
    return QStringList{"open", "com", "device=" + pty.slavePath()} + more;
}

void tst_CliSerial::bytesBothWaysUntilInputEnds()
{
    PseudoTerminal pty;
    QVERIFY(pty.isValid());
    PcomProcess pcom;
    pcom.start(serialArgs(pty));
    QVERIFY2(pcom.waitForStderr("pcom: opened the com port"), pcom.err().constData());

    QByteArray everyByte(256, '\0');
    for (int i = 0; i < 256; ++i)
        everyByte[i] = char(i);
    const QByteArray toLine = everyByte.repeated(16);
    pcom.write(toLine);
    QCOMPARE(pty.readMaster(toLine.size(), 10000), toLine);
    const QByteArray fromLine = everyByte.repeated(8);
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

void tst_CliSerial::signalClosesCleanly()
{
    PseudoTerminal pty;
    QVERIFY(pty.isValid());
    for (const bool interrupt : {false, true}) {
        PcomProcess pcom;
        // The device path and a custom rate are none of the options, but the port takes them.
        pcom.start(serialArgs(pty, {"baudrate=12345"}));
        QVERIFY(pcom.waitForStderr("pcom: opened the com port"));
        pcom.write("before the signal");
        QCOMPARE(pty.readMaster(17, 10000), QByteArray("before the signal"));
        interrupt ? pcom.interrupt() : pcom.terminate();
        QVERIFY(pcom.waitForExit());
        QCOMPARE(pcom.exitCode(), 0);
    }
}

QTEST_GUILESS_MAIN(tst_CliSerial)
#include "tst_cli_serial.moc"
