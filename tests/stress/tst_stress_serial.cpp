#include "tests/stress/EventWait.h"
#include "tests/support/LogCapture.h"
#include "serial/PCom_Com_Device.h"
#include "serial/PCom_Com_Port.h"
#include "tests/support/PseudoTerminal.h"
#include "tests/stress/StreamTransfer.h"
#include "tests/stress/StressReport.h"
#include "tests/stress/StressScale.h"

#include <QElapsedTimer>
#include <QSocketNotifier>
#include <QtTest>

#include <cerrno>
#include <unistd.h>

// The serial port moving a long stream both ways at once over a
// pseudo-terminal. A pseudo-terminal holds only a few KiB, so each side
// writes when the other has read (and the test's side when the master has
// room again).
class tst_StressSerial : public QObject
{
    Q_OBJECT
private slots:
    void integrityBothWays();
};

void tst_StressSerial::integrityBothWays()
{
    PseudoTerminal pty;
    QVERIFY(pty.isValid());
    const int master = pty.masterFd();
    PCom_Com_Device device(nullptr, nullptr);
    QScopedPointer<PCom_Com_Port> port(static_cast<PCom_Com_Port *>(device.createPort()));
    port->setTavlinProperty(QStringLiteral("device"), pty.slavePath());
    port->setTavlinProperty(QStringLiteral("baudrate"), 115200);
    LogCapture log;
    QCOMPARE(port->setTavlinProperty("connect", true), QVariant(true));

    QSocketNotifier masterReadable(master, QSocketNotifier::Read);
    QSocketNotifier masterWritable(master, QSocketNotifier::Write);
    masterWritable.setEnabled(false);

    const qint64 total = StressScale::serialBytes;
    const qint64 window = 256 << 10;
    const int chunk = 16 << 10;
    StreamTransfer out(
        21, total, [&port](const char *data, int size) { return qint64(port->writeRawData(data, size)); },
        [master](char *buffer, int size) { return qint64(::read(master, buffer, size_t(size))); }, window, chunk);
    StreamTransfer in(
        22, total,
        [master, &masterWritable](const char *data, int size) -> qint64 {
            const ssize_t n = ::write(master, data, size_t(size));
            if (n >= 0)
                return n;
            if (errno != EAGAIN && errno != EINTR)
                return -1;
            // Full: wait until the line has taken some.
            masterWritable.setEnabled(true);
            return 0;
        },
        [&port](char *buffer, int size) { return qint64(port->readRawData(buffer, size)); }, window, chunk);

    connect(&masterReadable, &QSocketNotifier::activated, &out, &StreamTransfer::pump);
    connect(&masterWritable, &QSocketNotifier::activated, &in, [&] {
        masterWritable.setEnabled(false);
        in.pump();
    });
    connect(port.data(), &Plugin_Com_Port::readyRead, &in, &StreamTransfer::pump);

    QElapsedTimer timer;
    timer.start();
    out.pump();
    in.pump();
    QVERIFY(waitUntil([&] { return out.finished() && in.finished(); }, StressScale::transferTimeoutMs));
    const qint64 ms = timer.elapsed();

    for (StreamTransfer *way : {&out, &in}) {
        QVERIFY(!way->failed());
        QCOMPARE(way->firstMismatch(), qint64(-1));
        QCOMPARE(way->sentCount(), total);
        QCOMPARE(way->receivedCount(), total);
        QCOMPARE(way->receivedChecksum(), way->sentChecksum());
    }
    // No short write and nothing else on the way.
    QCOMPARE(log.texts(), QStringList{QStringLiteral("Plugin_Com_Port(%1)::setTavlinProperty(connect, true) ").arg(port->getTavlinProperty("device").toString())});
    QCOMPARE(port->getTavlinProperty("connect"), QVariant(true));
    QCOMPARE(port->setTavlinProperty("connect", false), QVariant(false));
    stressReport(QStringLiteral("serial: %1 MiB each way through a pseudo-terminal in %2 ms, checksums equal")
                     .arg(total / StressScale::MiB).arg(ms));
}

QTEST_GUILESS_MAIN(tst_StressSerial)
#include "tst_stress_serial.moc"
