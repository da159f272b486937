#include "tests/support/LoopbackPeer.h"
#include "tests/support/PcomProcess.h"
#include "tests/support/PseudoTerminal.h"

#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <termios.h>

// pcom as a terminal: interactive mode on a pseudo-terminal as standard
// input, with time stamps, a line-end map and a session log.
class tst_CliTerminal : public QObject
{
    Q_OBJECT
private slots:
    void interactiveSession();
};

// Each key leaves as it is typed, Ctrl-C included, line ends mapped;
// received lines are stamped after their line ends were mapped; the log holds both directions
// as they went, stamped and marked; Ctrl-T q ends pcom in order, and the
// terminal is as it was.
void tst_CliTerminal::interactiveSession()
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
    server.answer("\r", "one\r\ntwo\r\n", false);
    const QString logFile = dir.filePath(QStringLiteral("session.log"));
    PcomProcess pcom;
    pcom.setStandardInputFile(pty.slavePath());
    pcom.start({"open", "tcpClient", "address=127.0.0.1", QStringLiteral("port=%1").arg(server.serverPort()),
                "--timestamp", "--map", "igncr,onlcr", "--log", logFile});
    QVERIFY2(pcom.waitForStderr("pcom: interactive; Ctrl-T ? lists the commands"), pcom.err().constData());
    QTRY_VERIFY_WITH_TIMEOUT(server.hasConnection(), 5000);
    termios raw;
    QCOMPARE(tcgetattr(pty.slaveFd(), &raw), 0);
    QVERIFY(!(raw.c_lflag & (ICANON | ECHO | ISIG)));

    QVERIFY(pty.writeMaster("ab\x03\n"));
    QTRY_COMPARE_WITH_TIMEOUT(server.received(), QByteArray("ab\x03\r\n"), 5000);
    QVERIFY(pcom.waitForStdout("] two\n"));
    const QString stamp = QStringLiteral("\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3}");
    const QRegularExpression shown(QStringLiteral("^\\[%1\\] one\\n\\[%1\\] two\\n$").arg(stamp));
    QVERIFY2(shown.match(QString::fromLatin1(pcom.out())).hasMatch(), pcom.out().constData());
    // Ctrl-T twice is one Ctrl-T for the peer; Ctrl-T ? lists the commands.
    QVERIFY(pty.writeMaster("\x14\x14\x14?"));
    QVERIFY(pcom.waitForStderr("q quit"));
    QVERIFY(pty.writeMaster("\x14q"));
    QVERIFY(pcom.waitForExit());
    QCOMPARE(pcom.exitCode(), 0);
    QCOMPARE(server.received(), QByteArray("ab\x03\r\n\x14"));
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
    QCOMPARE(both[0], QStringLiteral("ab\\x03\\r\\n\\x14"));
    QCOMPARE(both[1], QStringLiteral("one\\r\\ntwo\\r\\n"));
}

QTEST_GUILESS_MAIN(tst_CliTerminal)
#include "tst_cli_terminal.moc"
