#include "canbus/PCom_CanBus_Device.h"
#include "canbus/PCom_CanBus_Port.h"
#include "core/PCom_CanFrames.h"
#include "tests/support/LogCapture.h"
#include "tests/support/LoopbackPeer.h"
#include "tests/support/NetClientTestUtil.h"
#include "tests/testcan/TestCanControl.h"

#include <QCanBus>
#include <QCanBusDevice>
#include <QtTest>

// The CAN port: its properties and an open on Qt's "virtualcan" back-end
// (frames between ports over it are tst_cli_can's), then frames, bus errors,
// error frames, refused frames, kept bit rates and failed connections
// against the tests' "testcan" back-end.
class tst_CanBus : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanup();
    void properties();
    void backend();
};

namespace {

PCom_CanBus_Port *newPort(PCom_CanBus_Device &device)
{
    return static_cast<PCom_CanBus_Port *>(device.createPort());
}

QCanBusDevice *lastCanDevice()
{
    const QVariant device = QCoreApplication::instance()->property(TestCan::lastDevice);
    return qobject_cast<QCanBusDevice *>(device.value<QObject *>());
}

PCom_CanBus_Port *openTestPort(PCom_CanBus_Device &device, const QString &interfaceName,
                               const QVariant &baudRate = QVariant())
{
    device.setCanPlugin(QLatin1String(TestCan::pluginKey));
    PCom_CanBus_Port *port =
        NetClientTestUtil::configured(newPort(device), {{"device", interfaceName}, {"baudrate", baudRate}});
    port->open(Plugin_Com_Port::ReadWrite);
    return port;
}

bool inject(QCanBusDevice *canDevice, QCanBusFrame::FrameType type, uint frameId, const QByteArray &payload)
{
    return QMetaObject::invokeMethod(canDevice, "injectFrame", Q_ARG(int, int(type)), Q_ARG(uint, frameId),
                                     Q_ARG(QByteArray, payload));
}

} // namespace

void tst_CanBus::initTestCase()
{
    // Before anything asks QCanBus for its back-ends.
    QCoreApplication::addLibraryPath(QStringLiteral(PCOM_TESTCAN_LIBRARY_DIR));
}

void tst_CanBus::cleanup()
{
    for (const char *name : {TestCan::interfaces, TestCan::enumerationError, TestCan::lastDisconnected})
        QCoreApplication::instance()->setProperty(name, QVariant());
}

void tst_CanBus::properties()
{
    PCom_CanBus_Device device(nullptr, nullptr);
    QScopedPointer<PCom_CanBus_Port> first(newPort(device)), second(newPort(device));
    QSignalSpy changed(first.data(), &AbstractTreeItem::dataChanged);
    LogCapture log;
    QVERIFY(first->usesFrameIds() && first->frameLength() == 8);

    // A number is kept as its digits in text; equal values change nothing.
    QCOMPARE(first->setTavlinProperty("baudrate", 250000), QVariant(QStringLiteral("250000")));
    QCOMPARE(first->setTavlinProperty("device", QStringLiteral("can1")), QVariant(QStringLiteral("can1")));
    QCOMPARE(first->setTavlinProperty("baudrate", 250000), QVariant(250000));
    QCOMPARE(log.texts().size(), 2);
    QCOMPARE(changed.count(), 2);
    QCOMPARE(first->defaultText(), QStringLiteral(".can1"));

    // The back-end is the device's; only the writing port refreshes its list,
    // and a port built later lists the back-end's interfaces at once.
    const QStringList virtualCan{"can0", "can1"};
    first->setTavlinProperty("interface", QStringLiteral("virtualcan"));
    QCOMPARE(second->getTavlinProperty("interface"), QVariant(QStringLiteral("virtualcan")));
    QCOMPARE(first->tavlinProperty("device")->options(), virtualCan);
    QCOMPARE(second->tavlinProperty("device")->options(), QStringList());
    QScopedPointer<PCom_CanBus_Port> third(newPort(device));
    QCOMPARE(third->tavlinProperty("device")->options(), virtualCan);

    // virtualcan keeps no bit rate, so the line names none. Its devices meet
    // on a relay server that the first device of a process starts on the
    // port named in the interface URL: a free loopback port of this process.
    const QString url = QStringLiteral("tcp://127.0.0.1:%1/can0").arg(LoopbackPeer::freePort());
    first->setTavlinProperty("device", url);
    QCOMPARE(first->setTavlinProperty("connect", true), QVariant(true));
    QCOMPARE(log.deviceTexts(KrLog_Interface::Progress), QStringList{"Plugin: virtualcan, connected to " + url});
    QCOMPARE(NetClientTestUtil::writable(*first), QStringList{"connect"});

    // A burst closed at once still reaches the bus: the port reads as
    // closing until its device has sent it all (into virtualcan's socket).
    QScopedPointer<QCanBusDevice> peer(QCanBus::instance()->createDevice("virtualcan", url));
    QVERIFY(peer->connectDevice());
    QTRY_COMPARE_WITH_TIMEOUT(peer->state(), QCanBusDevice::ConnectedState, 5000);
    QVERIFY(peer->writeFrame(QCanBusFrame(0x7, "up")));
    QTRY_COMPARE_WITH_TIMEOUT(first->linkStatus()->face<PCom_CanFrames>()->framesAvailable(), qint64(1), 5000);
    int taken = 0;
    for (int i = 0; i < 3000; ++i)
        taken += first->writeRawData("\x11\x22", 2, 0x123);
    QCOMPARE(taken, 6000);
    first->close();
    QCOMPARE(first->getTavlinProperty("connect"), QVariant(false));
    QCOMPARE(first->linkStatus()->linkState(), PCom_LinkStatus::LinkState::Closing);
    QCOMPARE(NetClientTestUtil::writable(*first), (QStringList{"interface", "device", "baudrate", "connect"}));
    QTRY_COMPARE_WITH_TIMEOUT(peer->framesAvailable(), qint64(3000), 10000);
    QTRY_COMPARE_WITH_TIMEOUT(first->linkStatus()->linkState(), PCom_LinkStatus::LinkState::Closed, 5000);

    // The back-end's listing error is logged; what was listed still counts.
    device.setCanPlugin(QLatin1String(TestCan::pluginKey));
    log.clear();
    QCoreApplication::instance()->setProperty(TestCan::interfaces, QStringList{"test7", "test3"});
    QCoreApplication::instance()->setProperty(TestCan::enumerationError, QStringLiteral("driver library missing"));
    QCOMPARE(device.availablePorts(), (QStringList{"test7", "test3"}));
    QCOMPARE(log.texts(), QStringList{"PCom_CanBus_Device: driver library missing"});

    // Never opened: the plain byte operations do nothing; frames fail, and
    // only the byte stream logs it.
    log.clear();
    char buffer[16] = {};
    unsigned int frameId = 77;
    Plugin_Com_Port *base = third.data();
    QCOMPARE((QList<int>{base->writeRawData("abc", 3), base->readRawData(buffer, 16), base->writeRawData("abcde", 5, 0x10),
                         base->readRawData(buffer, 16, &frameId), base->writeByteStream("abcde", 5, 0x10)}),
             (QList<int>{0, 0, -1, -1, -1}));
    QCOMPARE(frameId, 77u);
    QCOMPARE(log.deviceTexts(KrLog_Interface::Error), QStringList{"PCom_CanBus_Port: 5 byte could not be send"});
}

void tst_CanBus::backend()
{
    PCom_CanBus_Device device(nullptr, nullptr);
    LogCapture log;
    auto progress = [&log] { return log.deviceTexts(KrLog_Interface::Progress); };

    QScopedPointer<PCom_CanBus_Port> port(openTestPort(device, QStringLiteral("test0"), 250000));
    QPointer<QCanBusDevice> canDevice = lastCanDevice();
    QVERIFY(port->opened() && canDevice);
    // The rate reaches the back-end as text.
    QCOMPARE(canDevice->configurationParameter(QCanBusDevice::BitRateKey), QVariant(QStringLiteral("250000")));
    QCOMPARE(progress(), QStringList{"Plugin: testcan, connected to test0 at 250000 baud"});

    // A second open is refused and leaves the CAN device in use alone.
    log.clear();
    QVERIFY(!port->open(Plugin_Com_Port::ReadWrite));
    QVERIFY(port->opened() && lastCanDevice() == canDevice && log.texts().isEmpty());

    QSignalSpy ready(port.data(), &Plugin_Com_Port::readyRead);
    const QByteArray bytes(80, 'b');

    // Qt takes more than 8 bytes only in its flexible-data-rate lengths, and
    // an identifier above 0x7FF only in the extended format, which the port
    // never sets.
    const struct {
        int length;
        unsigned int frameId;
        bool valid;
    } cases[] = {{8, 0x123, true}, {0, 0x1, true},    {9, 0x2, false},   {12, 0x3, true},         {64, 0x7FF, true},
                 {65, 0x9, false}, {1, 0x800, false}, {1, 0x1FFFFFFF, false}, {1, 0x20000000, false}};
    for (const auto &c : cases) {
        const int before = canDevice->property(TestCan::written).toList().size();
        QCOMPARE(port->writeRawData(bytes.constData(), c.length, c.frameId), c.valid ? c.length : -1);
        QCOMPARE(port->writeByteStream(bytes.constData(), c.length, c.frameId), c.length);
        const QVariantMap frame{{"id", c.frameId <= 0x1FFFFFFF ? c.frameId : 0u}, {"payload", bytes.left(c.length)},
                                {"type", int(QCanBusFrame::DataFrame)}, {"extended", false}, {"fd", c.length > 8},
                                {"valid", c.valid}, {"accepted", c.valid}};
        QCOMPARE(canDevice->property(TestCan::written).toList().mid(before), (QVariantList{frame, frame}));
    }

    // A frame the back-end refuses: only the raw write tells.
    canDevice->setProperty(TestCan::refuseWrites, true);
    QCOMPARE(port->writeRawData("abc", 3, 0x10), -1);
    QCOMPARE(port->writeByteStream("abc", 3, 0x10), 3);
    QVERIFY(log.texts().isEmpty());
    canDevice->setProperty(TestCan::refuseWrites, false);

    // An error frame reads as nothing, logged through the back-end's reading of it.
    char buffer[16];
    unsigned int frameId = 0;
    QVERIFY(inject(canDevice, QCanBusFrame::ErrorFrame, 0, QByteArray()));
    QCOMPARE(ready.count(), 1);
    QCOMPARE(port->readRawData(buffer, sizeof buffer, &frameId), -1);
    QCOMPARE(frameId, 0xFFFFFFFFu);
    QCOMPARE(log.deviceTexts(KrLog_Interface::Error), QStringList{"PCom_CanBus_Port: testcan error frame 0x40"});

    // Every other frame type reads as data with its identifier, one frame a
    // read, in order; a short buffer takes the head and the rest is gone.
    log.clear();
    const struct {
        QCanBusFrame::FrameType type;
        unsigned int id;
        QByteArray payload;
        int maxLen;
    } frames[] = {{QCanBusFrame::RemoteRequestFrame, 0x10, "", 16}, {QCanBusFrame::UnknownFrame, 0x11, "ab", 16},
                  {QCanBusFrame::DataFrame, 0x1FFFFFFF, "0123456789abcdef", 3}, {QCanBusFrame::DataFrame, 0x13, "xyz", 0}};
    for (const auto &f : frames)
        QVERIFY(inject(canDevice, f.type, f.id, f.payload));
    for (const auto &f : frames) {
        QCOMPARE(port->readRawData(buffer, f.maxLen, &frameId), qMin(f.maxLen, f.payload.size()));
        QCOMPARE(QByteArray(buffer, qMin(f.maxLen, f.payload.size())), f.payload.left(f.maxLen));
        QCOMPARE(frameId, f.id);
    }
    QCOMPARE(port->readByteStream(buffer, sizeof buffer, &frameId), -1);
    QVERIFY(log.texts().isEmpty());

    // Whole frames through the companion's face, as they were sent and
    // received: an extended remote request out, an extended frame in.
    auto *face = port->linkStatus()->face<PCom_CanFrames>();
    QCanBusFrame remote(0x456, QByteArray());
    remote.setExtendedFrameFormat(true);
    remote.setFrameType(QCanBusFrame::RemoteRequestFrame);
    QVERIFY(face->writeFrame(remote));
    const QVariantMap out = canDevice->property(TestCan::written).toList().last().toMap();
    QVERIFY(out.value("extended").toBool() && out.value("type").toInt() == QCanBusFrame::RemoteRequestFrame);
    QVERIFY(inject(canDevice, QCanBusFrame::DataFrame, 0x1ABCDEF, "in"));
    QCOMPARE(face->readFrame().toString(), QCanBusFrame(0x1ABCDEF, "in").toString());

    // A bus error is logged with the back-end's text and the port stays
    // open; in error, writes are refused before the back-end sees them.
    QVERIFY(QMetaObject::invokeMethod(canDevice, "injectError", Q_ARG(int, QCanBusDevice::ReadError),
                                      Q_ARG(QString, QStringLiteral("bus trouble"))));
    QCOMPARE(log.texts(), QStringList{"PCom_CanBus_Port: bus trouble"});
    QVERIFY(port->opened());
    const int beforeError = canDevice->property(TestCan::written).toList().size();
    QCOMPARE(port->writeRawData("abcde", 5, 1), -1);
    QCOMPARE(canDevice->property(TestCan::written).toList().size(), beforeError);
    QVERIFY(QMetaObject::invokeMethod(canDevice, "resetError"));
    QCOMPARE(port->writeRawData("abcde", 5, 1), 5);

    // Closing disconnects the CAN device and deletes it at once.
    port->close();
    QCOMPARE(QCoreApplication::instance()->property(TestCan::lastDisconnected).toString(), QStringLiteral("test0"));
    QVERIFY(!canDevice);

    // The bus goes: the loss is told once, and a host that closes the port
    // from its linkLost() handler does not delete the device under its own
    // signal; the device goes once the loop is back.
    port.reset(openTestPort(device, QStringLiteral("test2")));
    canDevice = lastCanDevice();
    QSignalSpy lost(port->linkStatus(), &PCom_LinkStatus::linkLost);
    connect(port->linkStatus(), &PCom_LinkStatus::linkLost, port.data(), [&port] { port->close(); });
    QVERIFY(QMetaObject::invokeMethod(canDevice, "loseBus"));
    QVERIFY(lost.count() == 1 && !port->opened());
    QVERIFY(QCoreApplication::instance()->property(TestCan::survivedLoss).toBool());
    QTRY_VERIFY(!canDevice);

    // An empty rate reads back as 0; deleting an open port closes its link.
    log.clear();
    port.reset(openTestPort(device, QStringLiteral("test1")));
    canDevice = lastCanDevice();
    QCOMPARE(progress(), QStringList{"Plugin: testcan, connected to test1 at 0 baud"});
    device.deletePort(port.take());
    QCOMPARE(QCoreApplication::instance()->property(TestCan::lastDisconnected).toString(), QStringLiteral("test1"));
    QVERIFY(!canDevice);

    // A device that fails to connect is deleted without a disconnect, the
    // back-end's error logged before the failed connect; one that is not
    // created at all, with the back-end's reason.
    QCoreApplication::instance()->setProperty(TestCan::lastDisconnected, QVariant());
    const QStringList failConnect{"PCom_CanBus_Port: testcan cannot connect", "Connection error: testcan cannot connect"};
    const QList<QPair<const char *, QStringList>> failures{
        {TestCan::failConnect, failConnect},
        {TestCan::refuseCreate, {"Error creating device 'refuse-create': 'testcan creates no device here'"}}};
    for (const auto &failure : failures) {
        log.clear();
        port.reset(openTestPort(device, QLatin1String(failure.first)));
        QVERIFY(!port->opened() && !lastCanDevice() && port->tavlinProperty("device")->isWritable());
        QCOMPARE(log.deviceTexts(KrLog_Interface::Error), failure.second);
        QVERIFY(progress().isEmpty() && !QCoreApplication::instance()->property(TestCan::lastDisconnected).isValid());
    }
}

QTEST_GUILESS_MAIN(tst_CanBus)
#include "tst_canbus.moc"
