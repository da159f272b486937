#include "tests/support/PcomProcess.h"
#include "tests/support/PseudoTerminal.h"

#include <QtTest>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

// pcom open on a serial line: the line is one side of a pseudo-terminal
// pair, the test talks through the other.
class tst_CliSerial : public QObject
{
    Q_OBJECT
private slots:
    void bytesBothWaysUntilInputEnds();
    void signalClosesCleanly();
    void slowPeer_data();
    void slowPeer();
    void lineGoneEndsAtOnce();
    void lineSettings_data();
    void lineSettings();
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

// A peer that takes the line's bytes slowly (a device holding its line
// back) gets every byte before pcom closes; one that takes none until pcom
// is stopped leaves bytes over, which pcom counts exactly: what the peer got
// and what pcom reports add up to what pcom took.
void tst_CliSerial::slowPeer_data()
{
    QTest::addColumn<int>("bytesPerTick");
    QTest::newRow("reads 200 kB/s") << 2000;
    QTest::newRow("reads nothing, then SIGTERM") << 0;
}

void tst_CliSerial::slowPeer()
{
    QFETCH(int, bytesPerTick);
    PseudoTerminal pty;
    QVERIFY(pty.isValid());
    PcomProcess pcom;
    pcom.start(serialArgs(pty, {"baudrate=4000000", "-w", "0.1", "-q"}));
    const int total = 256 * 1024;
    QByteArray data(total, Qt::Uninitialized);
    for (int i = 0; i < total; ++i)
        data[i] = char(i % 253);
    pcom.write(data);
    pcom.closeStdin();
    QByteArray got;
    QTimer reader;
    QObject::connect(&reader, &QTimer::timeout, [&]() {
        QByteArray chunk(bytesPerTick, Qt::Uninitialized);
        const ssize_t n = ::read(pty.masterFd(), chunk.data(), size_t(chunk.size()));
        got += chunk.left(int(qMax<ssize_t>(n, 0)));
    });
    if (bytesPerTick > 0) {
        reader.start(10);
    } else {
        pollfd readable{pty.masterFd(), POLLIN, 0};
        QTRY_VERIFY_WITH_TIMEOUT(::poll(&readable, 1, 0) == 1, 10000);
        pcom.terminate();
    }
    QVERIFY(pcom.waitForExit(20000));
    reader.stop();
    got += pty.readMaster(total, 1000);
    if (bytesPerTick > 0) {
        QCOMPARE(pcom.exitCode(), 0);
        QVERIFY(got == data);
        return;
    }
    QCOMPARE(pcom.exitCode(), 1);
    const int left = pcom.numberAfter("error: ");
    const int taken = pcom.numberAfter(QByteArray::number(left) + " of ");
    QVERIFY2(pcom.err().contains(" bytes from standard input were not written out to the com link (stopped"),
             pcom.err().constData());
    QVERIFY2(left > 0 && got.size() + left == taken && got == data.left(got.size()), pcom.err().constData());
}

// The device goes away while open (the other side of the pseudo-terminal
// closes, as when an adapter is pulled): one line with the reason, exit 1,
// at once.
void tst_CliSerial::lineGoneEndsAtOnce()
{
    PseudoTerminal pty;
    QVERIFY(pty.isValid());
    // pcom must not hold the master too.
    QVERIFY(::fcntl(pty.masterFd(), F_SETFD, FD_CLOEXEC) == 0);
    PcomProcess pcom;
    pcom.start(serialArgs(pty, {"baudrate=115200", "-q"}));
    pcom.write("x");
    QCOMPARE(pty.readMaster(1, 10000), QByteArray("x"));
    // The master goes; /dev/null takes its descriptor, which the pair closes later.
    const int null = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    QVERIFY(null >= 0 && ::dup2(null, pty.masterFd()) == pty.masterFd());
    ::close(null);
    QElapsedTimer clock;
    clock.start();
    QVERIFY(pcom.waitForExit(5000));
    QVERIFY2(clock.elapsed() < 1000, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(pcom.exitCode(), 1);
    QCOMPARE(pcom.err().count("error: the com link was lost: "), 1);
}

// The serial options as the line sees them (termios of the terminal's
// slave side), and those a pseudo-terminal refuses, named with the reason.
void tst_CliSerial::lineSettings_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<uint>("cflagsSet");
    QTest::addColumn<uint>("iflagsSet");
    QTest::addColumn<QByteArray>("refusal");
    QTest::newRow("2 stop bits, RTS/CTS") << QStringList{"--stop-bits", "2", "--flow-control", "rtscts"}
                                          << uint(CSTOPB | CRTSCTS) << 0u << QByteArray();
    QTest::newRow("XON/XOFF") << QStringList{"--flow-control", "xonxoff"} << 0u << uint(IXON | IXOFF) << QByteArray();
    QTest::newRow("parity") << QStringList{"--parity", "even"} << 0u << 0u
                            << QByteArray("error: the com line refused --parity even: parity even refused: ");
    QTest::newRow("7 data bits") << QStringList{"--data-bits", "7"} << 0u << 0u
                                 << QByteArray("error: the com line refused --data-bits 7: data bits 7 refused: ");
}

void tst_CliSerial::lineSettings()
{
    QFETCH(QStringList, options);
    QFETCH(uint, cflagsSet);
    QFETCH(uint, iflagsSet);
    QFETCH(QByteArray, refusal);
    PseudoTerminal pty;
    QVERIFY(pty.isValid());
    PcomProcess pcom;
    pcom.start(serialArgs(pty, QStringList{"baudrate=57600"} + options));
    if (!refusal.isEmpty()) {
        QVERIFY(pcom.waitForExit());
        QCOMPARE(pcom.exitCode(), 1);
        QVERIFY2(pcom.err().contains(refusal), pcom.err().constData());
        QVERIFY(!pcom.err().contains("pcom: opened"));
        return;
    }
    QVERIFY2(pcom.waitForStderr("pcom: opened the com port"), pcom.err().constData());
    termios tio;
    QCOMPARE(tcgetattr(pty.slaveFd(), &tio), 0);
    QCOMPARE(cfgetospeed(&tio), speed_t(B57600));
    QCOMPARE(uint(tio.c_cflag & (CSTOPB | CRTSCTS | PARENB | CSIZE)), cflagsSet | CS8);
    QCOMPARE(uint(tio.c_iflag & (IXON | IXOFF)), iflagsSet);
    pcom.closeStdin();
    QVERIFY(pcom.waitForExit());
    QCOMPARE(pcom.exitCode(), 0);
}

QTEST_GUILESS_MAIN(tst_CliSerial)
#include "tst_cli_serial.moc"
