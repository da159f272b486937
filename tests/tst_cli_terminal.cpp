#include "tests/support/LoopbackPeer.h"
#include "tests/support/PcomProcess.h"
#include "tests/support/PseudoTerminal.h"

#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <termios.h>

// pcom as a terminal: interactive mode on a pseudo-terminal as standard
// input, and the time stamps, line-end maps and session log of what moves.
class tst_CliTerminal : public QObject
{
    Q_OBJECT
private slots:
    void interactiveKeys();
    void timestampsMapAndLog();
};

static QStringList clientArgs(const LoopbackPeer &server, const QStringList &more)
{
    return QStringList{"open", "tcpClient", "address=127.0.0.1", QStringLiteral("port=%1").arg(server.serverPort())}
           + more;
}

// Each key leaves as it is typed, Ctrl-C included; Ctrl-T q ends pcom in
// order, and the terminal is as it was.
void tst_CliTerminal::interactiveKeys()
{
    PseudoTerminal pty;
    QVERIFY(pty.isValid());
    termios before;
    QCOMPARE(tcgetattr(pty.slaveFd(), &before), 0);
    before.c_lflag |= ICANON | ECHO | ISIG;
    before.c_iflag |= ICRNL | IXON;
    QCOMPARE(tcsetattr(pty.slaveFd(), TCSANOW, &before), 0);
    QCOMPARE(tcgetattr(pty.slaveFd(), &before), 0);

    LoopbackPeer server;
    QVERIFY(server.listen());
    PcomProcess pcom;
    pcom.setStandardInputFile(pty.slavePath());
    pcom.start(clientArgs(server, {}));
    QVERIFY2(pcom.waitForStderr("pcom: interactive; Ctrl-T ? lists the commands"), pcom.err().constData());
    QTRY_VERIFY_WITH_TIMEOUT(server.hasConnection(), 5000);
    termios raw;
    QCOMPARE(tcgetattr(pty.slaveFd(), &raw), 0);
    QVERIFY(!(raw.c_lflag & (ICANON | ECHO | ISIG)));

    QVERIFY(pty.writeMaster("ab"));
    QTRY_COMPARE_WITH_TIMEOUT(server.received(), QByteArray("ab"), 5000);
    QVERIFY(pty.writeMaster("\x03\r"));
    QTRY_COMPARE_WITH_TIMEOUT(server.received(), QByteArray("ab\x03\r"), 5000);
    // Ctrl-T twice is one Ctrl-T for the peer; Ctrl-T ? lists the commands.
    QVERIFY(pty.writeMaster("\x14\x14\x14?"));
    QVERIFY(pcom.waitForStderr("q quit"));
    QVERIFY(pty.writeMaster("\x14q"));
    QVERIFY(pcom.waitForExit());
    QCOMPARE(pcom.exitCode(), 0);
    QCOMPARE(server.received(), QByteArray("ab\x03\r\x14"));

    termios after;
    QCOMPARE(tcgetattr(pty.slaveFd(), &after), 0);
    QVERIFY(after.c_lflag == before.c_lflag && after.c_iflag == before.c_iflag && after.c_oflag == before.c_oflag
            && after.c_cflag == before.c_cflag);
}

// Received lines are stamped after their line ends were mapped; the log
// holds both directions as they went, stamped and marked.
void tst_CliTerminal::timestampsMapAndLog()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString logFile = dir.filePath(QStringLiteral("session.log"));
    LoopbackPeer server;
    QVERIFY(server.listen());
    server.answer("ping", "one\r\ntwo\r\n", true);
    PcomProcess pcom;
    pcom.start(clientArgs(server, {"--timestamp", "--map", "igncr", "--log", logFile}));
    pcom.write("ping");
    QVERIFY(pcom.waitForExit());
    QCOMPARE(pcom.exitCode(), 0);

    const QString stamp = QStringLiteral("\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3}");
    const QRegularExpression shown(QStringLiteral("^\\[%1\\] one\\n\\[%1\\] two\\n$").arg(stamp));
    QVERIFY2(shown.match(QString::fromLatin1(pcom.out())).hasMatch(), pcom.out().constData());

    QFile log(logFile);
    QVERIFY(log.open(QIODevice::ReadOnly));
    const QStringList records = QString::fromLatin1(log.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QString received;
    const QRegularExpression record(QStringLiteral("^%1 ([<>]) (.*)$").arg(stamp));
    for (const QString &line : records) {
        const QRegularExpressionMatch m = record.match(line);
        QVERIFY2(m.hasMatch(), qPrintable(line));
        if (m.captured(1) == QLatin1String("<"))
            received += m.captured(2);
        else
            QCOMPARE(m.captured(2), QStringLiteral("ping"));
    }
    QCOMPARE(received, QStringLiteral("one\\r\\ntwo\\r\\n"));
    QVERIFY(records.first().contains(QLatin1String(" > ping")));
}

QTEST_GUILESS_MAIN(tst_CliTerminal)
#include "tst_cli_terminal.moc"
