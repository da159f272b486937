#include "tests/support/PcomProcess.h"
#include "tests/support/PseudoTerminal.h"

#include <QtTest>

#include <termios.h>

// pcom bridge --rfc2217 against pySerial's client, then two clients on the
// line at once (the protocol itself: tst_rfc2217).
class tst_CliRfc2217 : public QObject
{
    Q_OBJECT
private slots:
    void pyserialClient();
};

// Every byte value once, in order.
static const QByteArray all = [] {
    QByteArray bytes(256, '\0');
    for (int i = 0; i < 256; ++i)
        bytes[i] = char(i);
    return bytes;
}();

void tst_CliRfc2217::pyserialClient()
{
    PseudoTerminal pty;
    QVERIFY(pty.isValid());
    PcomProcess bridge;
    bridge.start({"bridge", "com", "device=" + pty.slavePath(), "baudrate=9600", "--", "tcpServer",
                  "address=127.0.0.1", "port=0", "--rfc2217", "--clients", "share"});
    QVERIFY2(bridge.waitForStderr("progress: pcom: opened the com and tcpServer ports"), bridge.err().constData());
    QProcess client;
    client.start(PCOM_PYTHON, {PCOM_RFC2217_CLIENT, QString::number(bridge.numberAfter("Server running on IP 127.0.0.1, port "))});
    QTRY_VERIFY2_WITH_TIMEOUT(client.canReadLine(), client.readAllStandardError().constData(), 20000);
    QCOMPARE(client.readLine(), QByteArray("set\n"));
    termios line{};
    QVERIFY(tcgetattr(pty.slaveFd(), &line) == 0 && cfgetospeed(&line) == B57600);
    QCOMPARE(line.c_cflag & (CSTOPB | CRTSCTS | CSIZE), tcflag_t(CSTOPB | CRTSCTS | CS8));
    client.write("go\n");

    QCOMPARE(pty.readMaster(512, 10000), all + all);
    QVERIFY(pty.writeMaster(all + all));
    QVERIFY(client.waitForFinished(30000));
    const QByteArray said = client.readAllStandardOutput() + client.readAllStandardError();
    QVERIFY2(client.exitCode() == 0 && said.contains("done"), said.constData());
    // The second client's data, and the first one's speed.
    QCOMPARE(pty.readMaster(6, 10000), QByteArray("hello\xff"));
    QVERIFY(tcgetattr(pty.slaveFd(), &line) == 0 && cfgetospeed(&line) == B19200);
    bridge.terminate();
    QVERIFY(bridge.waitForExit());
    QCOMPARE(bridge.exitCode(), 0);
}

QTEST_GUILESS_MAIN(tst_CliRfc2217)
#include "tst_cli_rfc2217.moc"
