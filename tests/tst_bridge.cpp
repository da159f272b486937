#include "core/PCom_ServedClients.h"
#include "host/Plugin_Com_Port.h"
#include "hostlib/Bridge.h"
#include "hostlib/CanLineParser.h"
#include "hostlib/ClientPolicy.h"
#include "hostlib/Endpoint.h"
#include "hostlib/LineOnDemand.h"
#include "hostlib/LogReceiver.h"
#include "hostlib/PluginHost.h"
#include "hostlib/PortHandle.h"
#include "hostlib/PortLink.h"
#include "tests/support/EventWait.h"
#include "tests/support/PseudoTerminal.h"

#include <QTcpSocket>
#include <QtTest>

// The bridge between two ends of the test's own. A row's script has steps
// separated by '|': "a =TEXT" (end a gives those bytes), "b frame ID#DATA",
// "b full" / "b low" (its backlog over its bound / low again), "a closing",
// "a end" (its input ended), "b done" (its write direction finished), "a lost"
// (down, not in order), "a down", "b dropped N" (bytes it dropped), "wait"
// (until the bridge finished), "tick" (until it printed its counts while
// running). An end that is closed goes down at once. Out comes the trace:
// the calls on the ends and what they were given, the log lines, the outcome.
class tst_Bridge : public QObject
{
    Q_OBJECT
private slots:
    void run_data();
    void run();
    void serveOnDemand();
};

namespace {

class FakeEnd : public Endpoint
{
public:
    FakeEnd(const QString &name, bool frames, QStringList *trace) : m_name(name), m_frames(frames), m_trace(trace) {}
    bool full = false, closing = false, gone = false, failed = false;
    qint64 delivered = 0, dropped = 0;

    void note(const QString &what) { *m_trace << m_name + ' ' + what; }
    void goDown() { if (!gone) { closing = gone = true; emit down(); } }
    void low() { full = false; emit backlogLow(); }
    void lose() { failed = closing = true; emit lost(); goDown(); }
    QString label() const override { return m_name; }
    bool usesFrames() const override { return m_frames; }
    void setSourceName(const QString &) override {}
    qint64 frameLine() const override { return 9; }
    void start() override {}
    void pauseReading() override { note("pause"); }
    void resumeReading() override { note("resume"); }
    void write(const char *data, int size) override { note("got " + QByteArray(data, size)), delivered += size; }
    void writeFrame(const QCanBusFrame &f, qint64 line) override { note("frame " + CanLineParser::format(f) + " @" + QString::number(line)); }
    bool isFull() const override { return full; }
    qint64 bytesDelivered() const override { return delivered; }
    qint64 bytesDropped() const override { return dropped; }
    void finishWriting() override { note("finish"); }
    void close(int) override { if (!closing) note("close"); goDown(); }
    void abort() override { note("abort"); goDown(); }
    bool isClosing() const override { return closing; }
    bool isDown() const override { return gone; }
    bool endedInOrder() const override { return !failed; }

private:
    QString m_name;
    bool m_frames;
    QStringList *m_trace;
};

} // namespace

void tst_Bridge::run_data()
{
    QTest::addColumn<QString>("frames"); // the ends that take CAN frames
    QTest::addColumn<QString>("script");
    QTest::addColumn<QString>("trace");
    const QString stats = "stats: a -> b: %1 bytes%2, stats: b -> a: %3 bytes, ";
    QTest::newRow("a full end holds its source back until its backlog is low, unless either end is closing") << ""
        << "a =A | b full | a =B | b low | b =C | a full | b =D | b closing | a low"
        << "b got A, b got B, a pause, a resume, a got C, a got D, b pause";
    QTest::newRow("input ended: the other end finishes writing, then both close in order once quiet") << ""
        << "a =A | a end | b done | b =BC | wait"
        << "b got A, b finish, a got BC, a pause, b pause, a close, b close, " + stats.arg(1).arg("").arg(2) + "finished ok";
    QTest::newRow("a lost link closes the other end, the run failed") << "" << "b dropped 7 | a lost"
        << "b close, " + stats.arg(0).arg(", 7 dropped").arg(0)
        + "error: 7 bytes from a were dropped, not delivered to b, finished failed";
    QTest::newRow("an end down in order after bytes for the other were dropped: the run failed") << ""
        << "b dropped 7 | a down" << "b close, " + stats.arg(0).arg(", 7 dropped").arg(0)
        + "error: 7 bytes from a were dropped, not delivered to b, finished failed";
    QTest::newRow("an end down by itself takes the other with it") << "" << "b down"
        << "a close, " + stats.arg(0).arg("").arg(0) + "finished ok";
    QTest::newRow("counts while it runs") << "" << "a =A | tick | a down"
        << "b got A, " + stats.arg(1).arg("").arg(0) + "b close, " + stats.arg(1).arg("").arg(0) + "finished ok";
    // Lines cut anywhere; one that is no frame is reported (before the frames of
    // the same piece) and skipped.
    QTest::newRow("cansend lines to a CAN end, frames to a byte end") << "b"
        << "a =123#A | a =1\nxyz\n45 | a =6#\n | b frame 321#CAFE | b full | a =12 | b down"
        << "error: line 2 from a: no '#' between identifier and data (expected ID#DATA, e.g. 123#DEADBEEF) "
           "(skipped), b frame 123#A1 @1, b frame 456# @3, a got 321#CAFE\n, a pause, a close, "
               + stats.arg(0).arg("").arg(9) + "error: 1 lines or frames were skipped, finished failed";
    QTest::newRow("frames between CAN ends, with the giver's input line") << "ab" << "a frame 7FF#01 | a down"
        << "b frame 7FF#01 @9, b close, " + stats.arg(0).arg("").arg(0) + "finished ok";
}

void tst_Bridge::run()
{
    QFETCH(QString, frames);
    QFETCH(QString, script);
    QStringList trace;
    LogReceiver receiver;
    receiver.setEcho(false);
    receiver.install();
    connect(&receiver, &LogReceiver::lineLogged, [&](const QString &kind, const QString &text) { trace << kind + ": " + text; });
    FakeEnd ends[] = {{"a", frames.contains('a'), &trace}, {"b", frames.contains('b'), &trace}};
    Bridge bridge(&ends[0], &ends[1], script.contains("tick") ? 0.01 : 0);
    connect(&bridge, &Bridge::finished, [&](bool ok) { trace << QString("finished ") + (ok ? "ok" : "failed"); });
    bridge.setLingerMs(10);
    bridge.start();
    const QHash<QString, std::function<void(FakeEnd &)>> verbs{
        {"full", [](FakeEnd &e) { e.full = true; }}, {"low", &FakeEnd::low}, {"closing", [](FakeEnd &e) { e.closing = true; }},
        {"end", &FakeEnd::inputEnded}, {"done", &FakeEnd::writeDone}, {"lost", &FakeEnd::lose}, {"down", &FakeEnd::goDown}};
    for (const QString &step : script.split(" | ")) {
        FakeEnd &end = ends[step.startsWith('b')];
        const QString verb = step.section(' ', 1, 1), arg = step.section(' ', 2);
        QCanBusFrame frame;
        if (step == "wait" || step == "tick")
            QVERIFY(EventWait::until([&] { return bridge.isFinished() || (step == "tick" && !trace.filter("stats").isEmpty()); }, 5000));
        else if (verb.startsWith('='))
            emit end.received(step.toLatin1().constData() + 3, step.size() - 3);
        else if (verb == "frame" && CanLineParser::parse(arg.toLatin1(), &frame, nullptr))
            emit end.frameReceived(frame);
        else if (verb == "dropped")
            end.dropped = arg.toInt();
        else if (verbs.contains(verb))
            verbs[verb](end);
        else
            QFAIL(qPrintable(step));
    }
    QTEST(trace.join(", "), "trace");
}

// A com line opened on demand for the clients of a TCP server, with a banner
// and an idle timeout, on the plug-in's ports: the line's device is missing
// for the first client and a pseudo-terminal for the second.
void tst_Bridge::serveOnDemand()
{
    PluginHost host;
    QString error;
    QVERIFY2(host.load(QStringLiteral(PCOM_PLUGIN_FILE), &error), qPrintable(error));
    PseudoTerminal pty;
    QTemporaryDir dir;
    const QString device = dir.filePath("line");
    const std::unique_ptr<PortHandle> com = PortHandle::create(host, "com", &error);
    const std::unique_ptr<PortHandle> server = PortHandle::create(host, "tcpServer", &error);
    QVERIFY(com->configure({"device=" + device}, &error) && server->configure({"port=0"}, &error) && server->open());
    PortLink line(com->port(), "com"), served(server->port(), "tcpServer");
    Bridge bridge(&line, &served, 0);
    ClientPolicy policy(server->port(), "tcpServer", {ClientPolicy::Mode::Share, {}, false, 5, "hi\r\n", 0.5});
    QVERIFY(policy.apply(&error));
    LineOnDemand onDemand(&served, &line, [&com] { return com->open(); });
    bridge.start();
    const quint16 port = PluginHost::face<PCom_ServedClients>(server->port())->listeningPort();
    QTcpSocket first, second;
    first.connectToHost(QHostAddress::LocalHost, port);
    QTRY_COMPARE_WITH_TIMEOUT(first.state(), QAbstractSocket::UnconnectedState, 5000);
    QCOMPARE(first.readAll(), QByteArray("hi\r\npcom: the com line did not open: No such file or directory\r\n"));
    // Closed at once, not for being idle.
    QTRY_VERIFY_WITH_TIMEOUT(policy.statsLines().constLast().endsWith("0 from it (left)"), 5000);
    QVERIFY(QFile::link(pty.slavePath(), device));
    second.connectToHost(QHostAddress::LocalHost, port);
    QTRY_COMPARE_WITH_TIMEOUT(second.bytesAvailable(), qint64(4), 5000);
    QVERIFY(com->port()->opened() && pty.writeMaster("x"));
    QTRY_COMPARE_WITH_TIMEOUT(second.bytesAvailable(), qint64(5), 5000);
    QCOMPARE(second.readAll(), QByteArray("hi\r\nx"));
    second.write("y");
    QCOMPARE(pty.readMaster(1), QByteArray("y"));
    // Nothing either way for 0.5 s: the client is closed, and the line with it.
    QTRY_COMPARE_WITH_TIMEOUT(second.state(), QAbstractSocket::UnconnectedState, 5000);
    QTRY_VERIFY_WITH_TIMEOUT(!com->port()->opened(), 5000);
    bridge.stop(100);
    QTRY_VERIFY_WITH_TIMEOUT(bridge.isFinished(), 5000);
}

QTEST_GUILESS_MAIN(tst_Bridge)
#include "tst_bridge.moc"
