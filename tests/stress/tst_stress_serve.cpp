#include "tests/stress/Duplex.h"
#include "tests/stress/EventWait.h"
#include "tests/stress/StressReport.h"
#include "tests/stress/StressScale.h"
#include "tests/support/PcomProcess.h"
#include "tests/support/PseudoTerminal.h"

#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

#include <fcntl.h>
#include <memory>
#include <unistd.h>
#include <vector>

// Eight links served by one pcom serve process, each with a client at both
// ends moving a long stream both ways, while other clients connect to them
// and drop, and a served serial device goes away and comes back (a reload
// starts its bridge again). Nothing may be lost on the eight links, the
// process stays within a memory bound and keeps serving.
class tst_StressServe : public QObject
{
    Q_OBJECT
private slots:
    void eightLinksWithChurn();
};

namespace {

const int links = 8;
// Far above what the links need (a few MiB each), far below what a leak or
// an unbounded backlog of 64 MiB streams would take.
#ifdef PCOM_STRESS_REDUCED
const qint64 peakBound = 1024 * StressScale::MiB;
#else
const qint64 peakBound = 256 * StressScale::MiB;
#endif

quint16 freePort()
{
    QTcpServer server;
    return server.listen(QHostAddress::LocalHost, 0) ? server.serverPort() : 0;
}

// VmRSS or VmHWM of a process, in bytes.
qint64 memoryOf(qint64 pid, const QByteArray &field)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    const QRegularExpression line(QStringLiteral("^%1:\\s+(\\d+) kB$").arg(QString::fromLatin1(field)),
                                  QRegularExpression::MultilineOption);
    return line.match(QString::fromLatin1(status.readAll())).captured(1).toLongLong() * 1024;
}

bool connected(QTcpSocket &socket, quint16 port)
{
    socket.connectToHost(QHostAddress::LocalHost, port);
    return socket.waitForConnected(5000);
}

} // namespace

void tst_StressServe::eightLinksWithChurn()
{
    QTemporaryDir dir;
    const QString device = dir.filePath(QStringLiteral("tty"));
    auto pty = std::make_unique<PseudoTerminal>();
    QVERIFY(pty->isValid() && ::fcntl(pty->masterFd(), F_SETFD, FD_CLOEXEC) == 0);
    QVERIFY(QFile::link(pty->slavePath(), device));
    QByteArray config = "bridges:\n";
    quint16 ends[links][2];
    for (int i = 0; i < links; ++i) {
        ends[i][0] = freePort();
        ends[i][1] = freePort();
        // What one end sends before the other end's client is taken is held for it.
        config += QStringLiteral("  - name: link%1\n    args: tcpServer port=%2 --hold 8388608 -- tcpServer port=%3 "
                                 "--hold 8388608\n").arg(i).arg(ends[i][0]).arg(ends[i][1]).toUtf8();
    }
    const quint16 serialPort = freePort();
    config += QStringLiteral("  - name: serial\n    args: com device=%1 -- tcpServer port=%2 --hold 65536\n")
                  .arg(device).arg(serialPort).toUtf8();
    const QString path = dir.filePath(QStringLiteral("serve.yaml"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(config) == config.size());
    file.close();

    PcomProcess pcom;
    pcom.start({"serve", "-q", path});
    QVERIFY2(pcom.waitForStderr("info: pcom: serving 9 bridges"), pcom.err().constData());
    const qint64 startRss = memoryOf(pcom.processId(), "VmRSS");

    QTcpSocket sockets[links][2];
    std::vector<std::unique_ptr<Duplex>> streams;
    for (int i = 0; i < links; ++i) {
        QVERIFY(connected(sockets[i][0], ends[i][0]) && connected(sockets[i][1], ends[i][1]));
        streams.push_back(std::make_unique<Duplex>(100 + 2 * i, StressScale::servedBytes,
                                                   LinkEnd::device(&sockets[i][0]), LinkEnd::device(&sockets[i][1])));
    }
    QElapsedTimer clock;
    clock.start();
    const auto allDone = [&streams]() {
        return std::all_of(streams.begin(), streams.end(), [](const auto &s) { return s->finished(); });
    };

    // Clients that connect to a link's end and drop at once, while the streams run.
    int churned = 0;
    QTcpSocket churn;
    QObject::connect(&churn, &QTcpSocket::connected, &churn, &QTcpSocket::abort);
    QTimer churnTimer;
    QObject::connect(&churnTimer, &QTimer::timeout, [&]() {
        if (churn.state() == QAbstractSocket::UnconnectedState && churned < 500)
            churn.connectToHost(QHostAddress::LocalHost, ends[churned++ % links][0]);
    });
    churnTimer.start(5);

    // The serial device carries bytes, goes away (its bridge ends), comes back
    // at the same path, and a reload serves it again; the links run on.
    for (int round = 0; round < 2; ++round) {
        QTcpSocket client;
        QVERIFY2(connected(client, serialPort), pcom.err().right(2000).constData());
        QVERIFY(pty->writeMaster("serial " + QByteArray::number(round)));
        QVERIFY(waitUntil([&] { return client.bytesAvailable() >= 8; }, 10000));
        QCOMPARE(client.readAll(), "serial " + QByteArray::number(round));
        if (round == 1)
            break;
        const int null = ::open("/dev/null", O_RDWR | O_CLOEXEC);
        QVERIFY(null >= 0 && ::dup2(null, pty->masterFd()) == pty->masterFd());
        ::close(null);
        QVERIFY2(pcom.waitForStderr("warning: [serial] pcom: the bridge ended"), pcom.err().constData());
        QVERIFY(waitUntil([&] { return client.state() == QAbstractSocket::UnconnectedState; }, 10000));
        pty = std::make_unique<PseudoTerminal>();
        QVERIFY(pty->isValid() && ::fcntl(pty->masterFd(), F_SETFD, FD_CLOEXEC) == 0);
        QVERIFY(QFile::remove(device) && QFile::link(pty->slavePath(), device));
        pcom.hangUp();
        QVERIFY(pcom.waitForStderr("info: pcom: reloading " + path.toUtf8() + ": 0 added, 1 changed, 0 removed, "
                                   "8 unchanged"));
        QVERIFY(waitUntil([&] { return pcom.err().count("info: pcom: serving 9 bridges") == 2; }, 10000));
    }

    qint64 peakRss = 0;
    QVERIFY(waitUntil([&] {
        peakRss = qMax(peakRss, memoryOf(pcom.processId(), "VmRSS"));
        return allDone();
    }, StressScale::transferTimeoutMs));
    const double seconds = clock.elapsed() / 1000.0;
    churnTimer.stop();
    for (const auto &stream : streams)
        stream->check(StressScale::servedBytes);
    const qint64 hwm = memoryOf(pcom.processId(), "VmHWM");
    const double mib = 2.0 * links * StressScale::servedBytes / StressScale::MiB;
    stressReport(QStringLiteral("pcom serve: %1 links moved %2 MiB in %3 s (%4 MiB/s) with %5 clients dropping; "
                                "RSS %6 MiB at start, %7 MiB peak seen, VmHWM %8 MiB")
                     .arg(links).arg(mib).arg(seconds, 0, 'f', 1).arg(mib / seconds, 0, 'f', 0).arg(churned)
                     .arg(startRss / StressScale::MiB).arg(peakRss / StressScale::MiB).arg(hwm / StressScale::MiB));
    QVERIFY2(hwm > 0 && hwm < peakBound, qPrintable(QString::number(hwm)));

    // Still serving on every link.
    streams.clear();
    for (int i = 0; i < links; ++i) {
        sockets[i][0].write("after");
        QVERIFY(waitUntil([&] { return sockets[i][1].bytesAvailable() >= 5; }, 10000));
        QCOMPARE(sockets[i][1].readAll(), QByteArray("after"));
    }
    pcom.terminate();
    QVERIFY(pcom.waitForExit(30000));
    QCOMPARE(pcom.exitCode(), 0);
}

QTEST_GUILESS_MAIN(tst_StressServe)
#include "tst_stress_serve.moc"
