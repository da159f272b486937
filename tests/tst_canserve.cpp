#include "hostlib/CanLineParser.h"
#include "hostlib/SlcanSession.h"
#include "hostlib/SocketcandSession.h"
#include "tests/support/LoopbackPeer.h"
#include "tests/support/PcomProcess.h"

#include <QtTest>

// The CAN ends that pcom bridge serves to other programs' clients
// (socketcand, slcan): their protocols as golden tables, and python-can's
// own clients against pcom.
class tst_CanServe : public QObject
{
    Q_OBJECT
private slots:
    void protocol_data();
    void protocol();
    void pythonCan_data();
    void pythonCan();
};

// A row feeds one protocol's parser and a session the pieces of `input`
// (split at '|'); a piece "@LINE,..." holds bus frames (cansend form, or
// "!CLASS:DATA" for an error frame; time 61.002003 s) given to the session. Out come the parser's commands and
// what the session sends: its replies and the frames it carries, with the
// frames it sends to the bus as "{LINE}".
void tst_CanServe::protocol_data()
{
    QTest::addColumn<bool>("slcan");
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QString>("commands");
    QTest::addColumn<QByteArray>("sent");
    const auto socketcand = [](const char *name, const char *input, const char *commands, const char *sent) {
        QTest::newRow(name) << false << QByteArray(input) << QString(commands) << QByteArray(sent);
    };
    const auto slcan = [](const char *name, const char *input, const char *commands, const char *sent) {
        QTest::newRow(name) << true << QByteArray(input) << QString(commands) << QByteArray(sent);
    };
    socketcand("session", "< open can0 >|@123#11|< rawmode >|@123#11,00000ABC#,7FF#R2,!4:0004|< send 1F 2 1 f1 >"
               "<send 1234567 0><sendrtr 00000001 3>|< bcmmode >|@001#",
               "open can0, rawmode, send 01F#01F1, send 01234567#, send 00000001#R3, bcmmode",
               "< hi >< ok >< ok > < frame 123 61.002003 11 > < frame 00000ABC 61.002003  > < rtr 7FF 61.002003 2 > < error 004 61.002003 0004 >"
               "{01F#01F1}{01234567#}{00000001#R3}< ok >");
    socketcand("refusals", "< rawmode >< send 1 0 >< open can1 >< echo >",
               "rawmode, send 001#, open can1, echo",
               "< hi >< error open the bus first >< error send needs BCM or raw mode >< error no bus can1 here >");
    socketcand("modes, statistics, unsupported", "< open can0 >< controlmode >< statistics 1000 >< send 1 0 >"
               "< add 1 0 123 0 >< echo >< open can0 >",
               "open can0, controlmode, statistics 1000, send 001#, unknown add, echo, open can0",
               "< hi >< ok >< ok >< error send needs BCM or raw mode >< error add is not supported >< echo >"
               "< error the bus is open already >");
    socketcand("malformed, in pieces", "x <| send 800 9 >< send 123 2 1 >< send 2 1 1FF >< sendrtr 1 1 1 >|< >"
               "< open >< statistics -1 >< echo 1 >< se|nd 20000000 0 >< rawmode >< " + QByteArray(300, 'x') + " >",
               "! text outside a message, ! send needs a length from 0 to 8, ! send 2 has 1 data bytes, "
               "! bad data byte '1FF', ! sendrtr 1 has 1 data bytes, ! an empty message, ! open takes one bus name, "
               "! statistics takes an interval from 0 to 3600000 ms, ! echo takes no arguments, "
               "! send needs an identifier of up to 8 hex digits, rawmode, ! a message longer than 256 bytes",
               "< hi >< error text outside a message >< error send needs a length from 0 to 8 >< error send 2 has 1 data "
               "bytes >< error bad data byte '1FF' >< error sendrtr 1 has 1 data bytes >< error an empty message >< error "
               "open takes one bus name >< error statistics takes an interval from 0 to 3600000 ms >< error echo takes no "
               "arguments >< error send needs an identifier of up to 8 hex digits >< error open the bus first >< error a "
               "message longer than 256 bytes >");
    slcan("open, frames both ways, close", "V\rN\rS6\rZ1\rO\r|@123#1122|t12321122\rT00000ABC0\r|r7FF2\rR1FFFFFFF8\r"
          "|@00000ABC#R3|F\rC\r|@123#",
          "version, serial, bitrate 6, timestamps 1, open, frame 123#1122, frame 00000ABC#, frame 7FF#R2, "
          "frame 1FFFFFFF#R8, status, close",
          "V1013\rNPCOM\r\r\r\rt1232112203EA\rz\rZ\r{123#1122}{00000ABC#}z\rZ\r{7FF#R2}{1FFFFFFF#R8}"
          "R00000ABC303EA\rF00\r\r");
    slcan("refusals and status", "t1230\r|L\r|t1230\rS4\rZ0\rO\r|@!46:0030|F\rF\rC\rC\rF\r",
          "frame 123#, listenonly, frame 123#, bitrate 4, timestamps 0, open, status, status, close, close, status",
          "\a\r\a\a\a\aFE0\rF00\r\r\r\a");
    slcan("invalid, in pieces", "\n\r\rt8000\rt12|39\rT123\rt12311\rs001C\rO1\rS9\rZ2\r" + QByteArray(40, 'x') + "\rt1|230\r",
          "! identifier 800 out of range, ! a length from 0 to 8 is missing, "
          "! T needs 8 hex digits of identifier, ! 1 data bytes expected as hex digit pairs, ! unknown command s, "
          "! O takes nothing after it, ! S takes a digit from 0 to 8, ! Z takes a digit from 0 to 1, "
          "! a line longer than 32 bytes, frame 123#",
          "\a\a\a\a\a\a\a\a\a\a");
}

void tst_CanServe::protocol()
{
    QFETCH(bool, slcan);
    QFETCH(QByteArray, input);
    std::unique_ptr<FrameSession> session;
    if (slcan)
        session = std::make_unique<SlcanSession>();
    else
        session = std::make_unique<SocketcandSession>(QStringLiteral("can0"));
    QByteArray sent = session->greeting();
    QStringList commands;
    SocketcandParser socketcandParser;
    SlcanParser slcanParser;
    const auto frameText = [](const QCanBusFrame &frame) { return QString::fromLatin1(CanLineParser::format(frame)); };
    for (const QByteArray &piece : input.split('|')) {
        QList<QCanBusFrame> frames;
        if (piece.startsWith('@')) {
            // "!CLASS:DATA" is an error frame.
            for (const QByteArray &line : piece.mid(1).split(',')) {
                QCanBusFrame frame(QCanBusFrame::ErrorFrame);
                QString error;
                if (line.startsWith('!')) {
                    frame.setError(QCanBusFrame::FrameErrors(line.mid(1, line.indexOf(':') - 1).toInt(nullptr, 16)));
                    frame.setPayload(QByteArray::fromHex(line.mid(line.indexOf(':') + 1)));
                } else {
                    QVERIFY2(CanLineParser::parse(line, &frame, &error), qPrintable(error));
                }
                frame.setTimeStamp(QCanBusFrame::TimeStamp(61, 2003));
                sent += session->give(frame);
            }
            continue;
        }
        sent += session->take(piece.constData(), piece.size(), &frames);
        for (const QCanBusFrame &frame : frames)
            sent += '{' + frameText(frame).toLatin1() + '}';
        QList<SocketcandParser::Command> socketcandCommands;
        QList<SlcanParser::Command> slcanCommands;
        if (slcan)
            slcanParser.feed(piece.constData(), piece.size(), &slcanCommands);
        else
            socketcandParser.feed(piece.constData(), piece.size(), &socketcandCommands);
        static const char *const socketcandNames[] = {"open",  "rawmode",    "bcmmode", "controlmode", "echo",
                                                      "send",  "statistics", "unknown", "!"};
        for (const auto &c : socketcandCommands) {
            const QString argument = c.kind == SocketcandParser::Kind::Send         ? frameText(c.frame)
                                     : c.kind == SocketcandParser::Kind::Statistics ? QString::number(c.number)
                                                                                    : c.text;
            commands << (socketcandNames[int(c.kind)] + QStringLiteral(" ") + argument).trimmed();
        }
        static const char *const slcanNames[] = {"open",   "listenonly", "close",  "bitrate",    "frame",
                                                 "status", "version",    "serial", "timestamps", "!"};
        for (const auto &c : slcanCommands) {
            const QString argument = c.kind == SlcanParser::Kind::Frame ? frameText(c.frame)
                                     : c.kind == SlcanParser::Kind::Bitrate || c.kind == SlcanParser::Kind::Timestamps
                                         ? QString::number(c.number)
                                         : c.text;
            commands << (slcanNames[int(c.kind)] + QStringLiteral(" ") + argument).trimmed();
        }
    }
    QTEST(commands.join(QStringLiteral(", ")), "commands");
    QTEST(sent, "sent");
}

void tst_CanServe::pythonCan_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("socketcand") << "socketcand";
    QTest::newRow("slcan on a pseudo-terminal") << "slcan pty";
    QTest::newRow("slcan over TCP") << "slcan tcp";
}

// 1,000 frames each way, base and extended identifiers in turn, between
// python-can's client (tests/can_clients.py) and a second pcom on the bus.
// SLCAN on a serial line: a pair of pseudo-terminals linked by socat.
void tst_CanServe::pythonCan()
{
    QFETCH(QString, kind);
    const int count = 1000;
    QVERIFY2(QProcess::execute(PCOM_PYTHON, {"-c", "import can"}) == 0, "python3-can is missing");
    const QString device = QStringLiteral("device=tcp://127.0.0.1:%1/can0").arg(LoopbackPeer::freePort());
    const QString port = QString::number(LoopbackPeer::freePort());
    QTemporaryDir dir;
    QProcess socat;
    QStringList side{"socketcand", "port=" + port};
    QString target = port;
    if (kind == "slcan pty") {
        socat.start("socat", {"pty,raw,echo=0,link=" + dir.filePath("a"), "pty,raw,echo=0,link=" + dir.filePath("b")});
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(dir.filePath("a")) && QFileInfo::exists(dir.filePath("b")), 10000);
        side = QStringList{"slcan", "device=" + dir.filePath("a")};
        target = dir.filePath("b");
    } else if (kind == "slcan tcp") {
        side = QStringList{"slcan", "port=" + port};
        target = "socket://127.0.0.1:" + port;
    }
    PcomProcess bridge, peer;
    QVERIFY2(bridge.startOpened(QStringList{"bridge", "canBus", "--can-plugin", "virtualcan", device, "--"} + side),
             bridge.err().constData());
    QVERIFY2(peer.startOpened({"open", "canBus", "--can-plugin", "virtualcan", device}), peer.err().constData());
    QProcess client;
    QSignalSpy said(&client, &QProcess::readyReadStandardOutput);
    client.start(PCOM_PYTHON, {PCOM_CAN_CLIENTS, kind.section(' ', 0, 0), target, QString::number(count)});
    // The relay drops frames for a receiver it has not registered yet:
    // probes go out until the client saw one.
    for (int attempt = 0; attempt < 900 && !client.canReadLine(); ++attempt) {
        peer.write("7FF#00\n");
        said.wait(100);
    }
    QVERIFY2(client.readLine() == "ready\n", client.readAllStandardError().constData());

    QByteArray frames;
    for (int i = 0; i < count; ++i)
        frames += (i % 2 ? QString::asprintf("%08X#%04X\n", 0x1000000 + i, i) : QString::asprintf("%03X#%04X\n", i % 0x7FF, i)).toLatin1();
    QVERIFY2(peer.waitForStdout(frames.right(14), 30000), peer.out().right(200).constData());
    QCOMPARE(peer.out(), frames);
    peer.write(frames);
    QTRY_VERIFY_WITH_TIMEOUT(client.state() == QProcess::NotRunning, 60000);
    const QByteArray result = client.readAllStandardOutput();
    QVERIFY2(client.exitCode() == 0 && result == "done\n", result + client.readAllStandardError());
    QCOMPARE(peer.stop(), 0);
    QCOMPARE(bridge.stop(), 0);
    socat.terminate();
    QVERIFY(socat.state() == QProcess::NotRunning || socat.waitForFinished(5000));
}

QTEST_GUILESS_MAIN(tst_CanServe)
#include "tst_canserve.moc"
