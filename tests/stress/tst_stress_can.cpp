#include "tests/stress/EventWait.h"
#include "tests/support/LogCapture.h"
#include "canbus/PCom_CanBus_Device.h"
#include "canbus/PCom_CanBus_Port.h"
#include "tests/stress/StressReport.h"
#include "tests/stress/StressScale.h"
#include "tests/stress/StressStream.h"

#include <QCanBus>
#include <QElapsedTimer>
#include <QLoggingCategory>
#include <QProcess>
#include <QSignalSpy>
#include <QTcpServer>
#include <QtTest>

#include <memory>
#include <vector>

namespace {

// Frame k of the test stream: every base-format identifier in turn (7919 is
// odd, so k * 7919 runs through all 2048 of them), 0 to 8 bytes of payload.
struct PlannedFrame {
    unsigned int id;
    QByteArray payload;
};

PlannedFrame planned(qint64 k)
{
    const StressStream stream(31);
    return {unsigned(quint64(k) * 7919u % 0x800u), stream.chunk(k * 8, int(k % 9))};
}

// Frame k of the peer process: identifier k % 0x800, k in 8 little-endian bytes.
bool peerFrame(const QByteArray &payload, unsigned int id, quint64 *k)
{
    if (payload.size() != 8)
        return false;
    quint64 value = 0;
    for (int b = 7; b >= 0; --b)
        value = (value << 8) | quint8(payload.at(b));
    *k = value;
    return id == value % 0x800;
}

quint16 freeLoopbackPort()
{
    QTcpServer probe;
    return probe.listen(QHostAddress::LocalHost, 0) ? probe.serverPort() : 0;
}

QString interfaceUrl(quint16 relayPort)
{
    return QStringLiteral("tcp://127.0.0.1:%1/can0").arg(relayPort);
}

// Receives the planned stream in order and notes what does not match.
class FrameCheck
{
public:
    explicit FrameCheck(PCom_CanBus_Port *port) : m_port(port), m_perId(0x800, 0) {}

    void readAll()
    {
        char buffer[64];
        unsigned int id = 0;
        for (int n = 0; n < 1000000 && (n = m_port->readRawData(buffer, sizeof buffer, &id)) >= 0;) {
            const PlannedFrame expected = planned(m_received);
            if (m_firstMismatch < 0 && (id != expected.id || QByteArray(buffer, n) != expected.payload))
                m_firstMismatch = m_received;
            if (id < 0x800)
                ++m_perId[id];
            ++m_received;
        }
    }

    qint64 received() const { return m_received; }
    qint64 firstMismatch() const { return m_firstMismatch; }
    const std::vector<int> &perId() const { return m_perId; }

private:
    PCom_CanBus_Port *m_port;
    std::vector<int> m_perId;
    qint64 m_received = 0;
    qint64 m_firstMismatch = -1;
};
}

// CAN frames in bulk over Qt's "virtualcan" back-end, and a peer that goes
// away in the middle of a stream: another port of this process, and the
// process that runs the bus relay, killed.
class tst_StressCan : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void everyFrameAccountedFor();
    void peerPortGoesAwayMidStream();
    void relayProcessKilledMidStream();

private:
    PCom_CanBus_Port *newPort(const QString &interfaceName);
    // Sends planned frames [from, to) while the receiver keeps up.
    bool stream(PCom_CanBus_Port *from, FrameCheck &check, qint64 begin, qint64 end, qint64 *sent);

    PCom_CanBus_Device m_device{nullptr, nullptr};
    quint16 m_relayPort = 0;
};

void tst_StressCan::initTestCase()
{
    QLoggingCategory::setFilterRules(QStringLiteral("qt.canbus.plugins.virtualcan.info=false"));
    QVERIFY(QCanBus::instance()->plugins().contains(QStringLiteral("virtualcan")));
    QVERIFY(m_device.setCanPlugin(QStringLiteral("virtualcan")));
    m_relayPort = freeLoopbackPort();
    QVERIFY(m_relayPort != 0);
}

PCom_CanBus_Port *tst_StressCan::newPort(const QString &interfaceName)
{
    auto *port = static_cast<PCom_CanBus_Port *>(m_device.createPort());
    port->setTavlinProperty(QStringLiteral("device"), interfaceName);
    return port;
}

// virtualcan connects in the background, and the relay drops frames for a
// receiver it has not registered yet. Numbered probes go out until the last
// one sent has been read: then both are on the bus and nothing is in flight.
static bool waitForBus(PCom_CanBus_Port *from, PCom_CanBus_Port *to)
{
    QSignalSpy ready(to, &Plugin_Com_Port::readyRead);
    int lastSent = -1;
    int lastRead = -2;
    for (char attempt = 0; attempt < 100; ++attempt) {
        if (from->writeRawData(&attempt, 1, 0x7FF) == 1)
            lastSent = attempt;
        ready.wait(50);
        char byte;
        unsigned int id = 0;
        for (int frame = 0; frame < 200 && to->readRawData(&byte, 1, &id) == 1; ++frame) {
            if (id == 0x7FF)
                lastRead = byte;
        }
        if (lastRead == lastSent)
            return true;
    }
    return false;
}

bool tst_StressCan::stream(PCom_CanBus_Port *from, FrameCheck &check, qint64 begin, qint64 end, qint64 *sent)
{
    const qint64 window = 1000;
    *sent = begin;
    bool refused = false;
    auto pump = [&] {
        check.readAll();
        while (!refused && *sent < end && *sent - (begin + check.received()) < window) {
            const PlannedFrame frame = planned(*sent);
            if (from->writeRawData(frame.payload.constData(), frame.payload.size(), frame.id) != frame.payload.size())
                refused = true;
            else
                ++*sent;
        }
    };
    return waitUntil([&] {
        pump();
        return refused || begin + check.received() >= end;
    }, StressScale::transferTimeoutMs) && !refused;
}

void tst_StressCan::everyFrameAccountedFor()
{
    QScopedPointer<PCom_CanBus_Port> first(newPort(interfaceUrl(m_relayPort)));
    QScopedPointer<PCom_CanBus_Port> second(newPort(interfaceUrl(m_relayPort)));
    LogCapture log;
    QVERIFY(first->open(Plugin_Com_Port::ReadWrite));
    QVERIFY(second->open(Plugin_Com_Port::ReadWrite));
    QVERIFY(waitForBus(first.data(), second.data()));
    log.clear();

    FrameCheck check(second.data());
    QElapsedTimer timer;
    timer.start();
    qint64 sent = 0;
    QVERIFY(stream(first.data(), check, 0, StressScale::canFrames, &sent));
    const qint64 ms = timer.elapsed();
    QCOMPARE(sent, qint64(StressScale::canFrames));
    QCOMPARE(check.received(), qint64(StressScale::canFrames));
    QCOMPARE(check.firstMismatch(), qint64(-1));
    // Every identifier as often as it was sent.
    std::vector<int> perId(0x800, 0);
    for (qint64 k = 0; k < sent; ++k)
        ++perId[planned(k).id];
    QVERIFY(check.perId() == perId);
    QCOMPARE(*std::min_element(perId.begin(), perId.end()) > 0, StressScale::canFrames >= 0x800);
    // Nothing more arrives, and nothing was logged.
    char buffer[64];
    QCOMPARE(second->readRawData(buffer, sizeof buffer, nullptr), -1);
    QCOMPARE(log.deviceTexts(), QStringList());
    stressReport(QStringLiteral("can: %1 frames over virtualcan in %2 ms, every identifier and payload as sent")
                     .arg(sent).arg(ms));
}

void tst_StressCan::peerPortGoesAwayMidStream()
{
    std::unique_ptr<PCom_CanBus_Port> peer(newPort(interfaceUrl(m_relayPort)));
    QScopedPointer<PCom_CanBus_Port> receiver(newPort(interfaceUrl(m_relayPort)));
    LogCapture log;
    QVERIFY(peer->open(Plugin_Com_Port::ReadWrite));
    QVERIFY(receiver->open(Plugin_Com_Port::ReadWrite));
    QVERIFY(waitForBus(peer.get(), receiver.data()));
    log.clear();

    // The peer sends a stream that it never finishes: it is deleted while
    // frames are still on their way, some on the bus, some in its buffer.
    FrameCheck check(receiver.data());
    qint64 sent = 0;
    QVERIFY(stream(peer.get(), check, 0, 5000, &sent));
    auto burst = [&] {
        for (qint64 k = sent; k < sent + 3000; ++k) {
            const PlannedFrame frame = planned(k);
            if (peer->writeRawData(frame.payload.constData(), frame.payload.size(), frame.id) != frame.payload.size())
                return false;
        }
        sent += 3000;
        return true;
    };
    QVERIFY(burst());
    QVERIFY(waitUntil([&] { check.readAll(); return check.received() > 5000; }, 5000));
    QVERIFY(burst());
    m_device.deletePort(peer.release());
    const qint64 peerSent = sent;
    // Settled once several wake-ups of the loop brought nothing new.
    qint64 seen = -1;
    int quiet = 0;
    QVERIFY(waitUntil([&] {
        check.readAll();
        quiet = check.received() == seen ? quiet + 1 : 0;
        seen = check.received();
        return quiet >= 5;
    }, 10000));

    // What arrived is an unbroken head of what was sent; the receiver is
    // still open and quiet.
    QVERIFY(check.received() > 5000);
    QVERIFY(check.received() <= peerSent);
    QCOMPARE(check.firstMismatch(), qint64(-1));
    QCOMPARE(receiver->getTavlinProperty("connect"), QVariant(true));
    QCOMPARE(log.deviceTexts(), QStringList());

    // A new peer takes over the bus.
    QScopedPointer<PCom_CanBus_Port> next(newPort(interfaceUrl(m_relayPort)));
    QVERIFY(next->open(Plugin_Com_Port::ReadWrite));
    QVERIFY(waitForBus(next.data(), receiver.data()));
    FrameCheck again(receiver.data());
    QVERIFY(stream(next.data(), again, 0, 2000, &sent));
    QCOMPARE(again.firstMismatch(), qint64(-1));
    QCOMPARE(again.received(), qint64(2000));
    stressReport(QStringLiteral("can: peer port deleted mid-stream, %1 of its %2 frames arrived: an unbroken head, receiver open and usable")
                     .arg(check.received()).arg(peerSent));
}

// The relay lives in the peer process, so its death takes the bus away.
void tst_StressCan::relayProcessKilledMidStream()
{
    const quint16 relayPort = freeLoopbackPort();
    QVERIFY(relayPort != 0);
    auto startRelay = [relayPort](QProcess &relay) {
        relay.start(QStringLiteral(PCOM_STRESS_PEER), {QStringLiteral("can-relay"), QString::number(relayPort)});
        return relay.waitForStarted(10000) && relay.waitForReadyRead(10000) && relay.readLine().trimmed() == "ready";
    };
    QProcess relay;
    QVERIFY(startRelay(relay));

    QScopedPointer<PCom_CanBus_Port> port(newPort(interfaceUrl(relayPort)));
    LogCapture log;
    QCOMPARE(port->setTavlinProperty("connect", true), QVariant(true));

    // Frames of the peer arrive in an unbroken run, from whichever came first
    // after the port joined.
    qint64 first = -1;
    qint64 last = -1;
    bool broken = false;
    auto drain = [&] {
        char buffer[64];
        unsigned int id = 0;
        quint64 k = 0;
        for (int n = 0; n < 1000000 && (n = port->readRawData(buffer, sizeof buffer, &id)) >= 0;) {
            if (!peerFrame(QByteArray(buffer, n), id, &k) || (last >= 0 && qint64(k) != last + 1))
                broken = true;
            if (first < 0)
                first = qint64(k);
            last = qint64(k);
        }
    };
    QVERIFY(waitUntil([&] { drain(); return broken || last - first >= 2000; }, 20000));
    QVERIFY(!broken);

    relay.kill();
    QVERIFY(relay.waitForFinished(10000));
    // The bus is gone: virtualcan refuses frames from then on.
    QVERIFY(waitUntil([&] { drain(); return port->writeRawData("", 0, 1) == -1; }, 10000));
    drain();
    QVERIFY(!broken);
    const qint64 before = last - first + 1;

    // The port reports nothing of it and stays open, holding its CAN device
    // (only an open or close changes that); the identifier-checked write is
    // refused, and nothing more is read.
    QCOMPARE(log.deviceTexts(KrLog_Interface::Error), QStringList());
    QCOMPARE(port->getTavlinProperty("connect"), QVariant(true));
    QVERIFY(!port->tavlinProperty("device")->isWritable());
    char buffer[8];
    QCOMPARE(port->readRawData(buffer, sizeof buffer, nullptr), -1);
    QCOMPARE(port->writeRawData("x", 1, 2), -1);

    // Closed, and opened again on a relay that came back, it receives again.
    QCOMPARE(port->setTavlinProperty("connect", false), QVariant(false));
    QVERIFY(port->tavlinProperty("device")->isWritable());
    QVERIFY(startRelay(relay));
    log.clear();
    QCOMPARE(port->setTavlinProperty("connect", true), QVariant(true));
    QCOMPARE(log.deviceTexts(KrLog_Interface::Progress),
             QStringList{QStringLiteral("Plugin: virtualcan, connected to ") + interfaceUrl(relayPort)});
    first = last = -1;
    QVERIFY(waitUntil([&] { drain(); return broken || last - first >= 1000; }, 20000));
    QVERIFY(!broken);
    QCOMPARE(port->setTavlinProperty("connect", false), QVariant(false));
    relay.kill();
    relay.waitForFinished(10000);
    stressReport(QStringLiteral("can: relay process killed (SIGKILL) after %1 of its frames: port open, reopened, receives again")
                     .arg(before));
}

QTEST_GUILESS_MAIN(tst_StressCan)
#include "tst_stress_can.moc"
