#include "tests/support/LogCapture.h"
#include "canbus/PCom_CanBus_Device.h"
#include "canbus/PCom_CanBus_Port.h"
#include "tests/testcan/TestCanControl.h"

#include <QCanBusDevice>
#include <QCanBusFrame>
#include <QPointer>
#include <QSignalSpy>
#include <QtTest>

// The CAN port against the "testcan" back-end of the tests, which produces
// what a real bus does and virtualcan does not: bus errors, error frames,
// refused frames, kept bit rates and failed connections.
class tst_CanBusBackend : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanup();
    void interfaceListing();
    void openAndClose();
    void frames();
};

static QObject *app()
{
    return QCoreApplication::instance();
}

static QCanBusDevice *lastCanDevice()
{
    return qobject_cast<QCanBusDevice *>(app()->property(TestCan::lastDevice).value<QObject *>());
}

static PCom_CanBus_Port *openPort(PCom_CanBus_Device &device, const QString &interfaceName,
                                  const QVariant &baudRate = QVariant())
{
    device.setCanPlugin(QLatin1String(TestCan::pluginKey));
    auto *port = static_cast<PCom_CanBus_Port *>(device.createPort());
    port->setTavlinProperty(QStringLiteral("device"), interfaceName);
    if (baudRate.isValid())
        port->setTavlinProperty(QStringLiteral("baudrate"), baudRate);
    port->open(Plugin_Com_Port::ReadWrite);
    return port;
}

static QVariantList writtenFrames(QCanBusDevice *canDevice)
{
    return canDevice->property(TestCan::written).toList();
}

static bool inject(QCanBusDevice *canDevice, QCanBusFrame::FrameType type, uint frameId, const QByteArray &payload)
{
    return QMetaObject::invokeMethod(canDevice, "injectFrame", Q_ARG(int, int(type)), Q_ARG(uint, frameId),
                                     Q_ARG(QByteArray, payload));
}

void tst_CanBusBackend::initTestCase()
{
    // Before anything asks QCanBus for its back-ends.
    QCoreApplication::addLibraryPath(QStringLiteral(PCOM_TESTCAN_LIBRARY_DIR));
}

void tst_CanBusBackend::cleanup()
{
    for (const char *name : {TestCan::interfaces, TestCan::enumerationError, TestCan::lastDisconnected})
        app()->setProperty(name, QVariant());
}

void tst_CanBusBackend::interfaceListing()
{
    PCom_CanBus_Device device(nullptr, nullptr);
    device.setCanPlugin(QStringLiteral("testcan"));
    LogCapture log;
    QCOMPARE(device.availablePorts(), (QStringList{"test0", "test1"}));
    app()->setProperty(TestCan::interfaces, QStringList());
    QCOMPARE(device.availablePorts(), QStringList());
    QVERIFY(log.texts().isEmpty());

    // An error text is logged, and whatever was listed is still returned.
    app()->setProperty(TestCan::interfaces, QStringList{"test7", "test3"});
    app()->setProperty(TestCan::enumerationError, QStringLiteral("driver library missing"));
    QCOMPARE(device.availablePorts(), (QStringList{"test7", "test3"}));
    QCOMPARE(log.deviceTexts(KrLog_Interface::Error), QStringList{"PCom_CanBus_Device: driver library missing"});
}

void tst_CanBusBackend::openAndClose()
{
    PCom_CanBus_Device device(nullptr, nullptr);
    LogCapture log;
    auto progress = [&log] { return log.deviceTexts(KrLog_Interface::Progress); };

    QScopedPointer<PCom_CanBus_Port> port(openPort(device, QStringLiteral("test0"), 250000));
    QPointer<QCanBusDevice> canDevice = lastCanDevice();
    QVERIFY(port->opened() && canDevice);
    QCOMPARE(canDevice->state(), QCanBusDevice::ConnectedState);
    // The rate reaches the back-end as text.
    QCOMPARE(canDevice->configurationParameter(QCanBusDevice::BitRateKey), QVariant(QStringLiteral("250000")));
    QCOMPARE(progress(), QStringList{"Plugin: testcan, connected to test0 at 250000 baud"});

    // A second open is refused and leaves the CAN device in use alone.
    log.clear();
    QSignalSpy changed(port.data(), &AbstractTreeItem::dataChanged);
    QVERIFY(!port->open(Plugin_Com_Port::ReadWrite));
    QVERIFY(port->opened() && lastCanDevice() == canDevice && log.texts().isEmpty());
    QCOMPARE(changed.count(), 1);

    // Closing disconnects the CAN device and deletes it at once.
    port->close();
    QCOMPARE(app()->property(TestCan::lastDisconnected).toString(), QStringLiteral("test0"));
    QVERIFY(!canDevice);

    // An empty rate is handed over as empty text and reads back as 0;
    // deleting an open port closes its link the same way.
    log.clear();
    port.reset(openPort(device, QStringLiteral("test1")));
    canDevice = lastCanDevice();
    QCOMPARE(canDevice->configurationParameter(QCanBusDevice::BitRateKey), QVariant(QString()));
    QCOMPARE(progress(), QStringList{"Plugin: testcan, connected to test1 at 0 baud"});
    device.deletePort(port.take());
    QCOMPARE(app()->property(TestCan::lastDisconnected).toString(), QStringLiteral("test1"));
    QVERIFY(!canDevice);

    // A back-end that keeps no rate: the line names none.
    log.clear();
    port.reset(openPort(device, QLatin1String(TestCan::noBitRate), QStringLiteral("125000")));
    QVERIFY(port->opened());
    QCOMPARE(progress(), QStringList{"Plugin: testcan, connected to no-bitrate"});

    // A failed connect: the back-end's error signal is logged first, then the
    // failed connect; the CAN device is deleted without a disconnect.
    port.reset();
    app()->setProperty(TestCan::lastDisconnected, QVariant());
    log.clear();
    port.reset(openPort(device, QLatin1String(TestCan::failConnect)));
    QVERIFY(!port->opened() && !lastCanDevice());
    QCOMPARE(log.deviceTexts(KrLog_Interface::Error),
             (QStringList{"PCom_CanBus_Port: testcan cannot connect", "Connection error: testcan cannot connect"}));
    QVERIFY(progress().isEmpty());
    QVERIFY(!app()->property(TestCan::lastDisconnected).isValid());
    QVERIFY(port->tavlinProperty("device")->isWritable());

    // The back-end makes no device for this interface.
    log.clear();
    port.reset(openPort(device, QLatin1String(TestCan::refuseCreate)));
    QVERIFY(!port->opened());
    QCOMPARE(log.deviceTexts(KrLog_Interface::Error),
             QStringList{"Error creating device 'refuse-create': 'testcan creates no device here'"});
}

void tst_CanBusBackend::frames()
{
    PCom_CanBus_Device device(nullptr, nullptr);
    QScopedPointer<PCom_CanBus_Port> port(openPort(device, QStringLiteral("test0")));
    QCanBusDevice *canDevice = lastCanDevice();
    QVERIFY(canDevice);
    QSignalSpy ready(port.data(), &Plugin_Com_Port::readyRead);
    LogCapture log;
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
        const int before = writtenFrames(canDevice).size();
        QCOMPARE(port->writeRawData(bytes.constData(), c.length, c.frameId), c.valid ? c.length : -1);
        QCOMPARE(port->writeByteStream(bytes.constData(), c.length, c.frameId), c.length);
        const QVariantMap frame{{"id", c.frameId <= 0x1FFFFFFF ? c.frameId : 0u}, {"payload", bytes.left(c.length)},
                                {"type", int(QCanBusFrame::DataFrame)}, {"extended", false}, {"fd", c.length > 8},
                                {"valid", c.valid}, {"accepted", c.valid}};
        QCOMPARE(writtenFrames(canDevice).mid(before), (QVariantList{frame, frame}));
    }

    // A frame the back-end refuses: only the raw write tells. A negative
    // length is no frame: the back-end never sees it, the byte stream logs it.
    canDevice->setProperty(TestCan::refuseWrites, true);
    const int sent = writtenFrames(canDevice).size();
    QCOMPARE(port->writeRawData("abc", 3, 0x10), -1);
    QCOMPARE(port->writeByteStream("abc", 3, 0x10), 3);
    QCOMPARE(port->writeRawData(bytes.constData(), -1, 0x10), -1);
    QVERIFY(log.texts().isEmpty());
    QCOMPARE(port->writeByteStream(bytes.constData(), -1, 0x10), -1);
    QCOMPARE(log.texts(), QStringList{"PCom_CanBus_Port: -1 byte could not be send"});
    QCOMPARE(writtenFrames(canDevice).size(), sent + 2);
    canDevice->setProperty(TestCan::refuseWrites, false);

    // An error frame reads as nothing, logged through the back-end's reading of it.
    log.clear();
    char buffer[16];
    unsigned int frameId = 0;
    QCOMPARE(port->readRawData(buffer, sizeof buffer, &frameId), -1);
    QVERIFY(inject(canDevice, QCanBusFrame::ErrorFrame, 0, QByteArray()));
    QVERIFY(inject(canDevice, QCanBusFrame::ErrorFrame, 0, QByteArray()));
    QCOMPARE(ready.count(), 2);
    QCOMPARE(port->readRawData(buffer, sizeof buffer, &frameId), -1);
    QCOMPARE(frameId, 0xFFFFFFFFu);
    QCOMPARE(port->readByteStream(buffer, sizeof buffer, nullptr), -1);
    const QString errorFrame = QStringLiteral("PCom_CanBus_Port: testcan error frame 0x40");
    QCOMPARE(log.deviceTexts(KrLog_Interface::Error), (QStringList{errorFrame, errorFrame}));

    // Every other frame type reads as data with its identifier, one frame a
    // read, in order; a short buffer takes the head and the rest is gone.
    log.clear();
    QVERIFY(inject(canDevice, QCanBusFrame::RemoteRequestFrame, 0x10, QByteArray()));
    QVERIFY(inject(canDevice, QCanBusFrame::UnknownFrame, 0x11, "ab"));
    QVERIFY(inject(canDevice, QCanBusFrame::InvalidFrame, 0x12, "cde"));
    QVERIFY(inject(canDevice, QCanBusFrame::DataFrame, 0x1FFFFFFF, "0123456789abcdef"));
    QVERIFY(inject(canDevice, QCanBusFrame::DataFrame, 0x13, "xyz"));
    QCOMPARE(ready.count(), 7);
    const struct {
        int maxLen;
        QByteArray data;
        unsigned int id;
    } expected[] = {{16, "", 0x10}, {16, "ab", 0x11}, {16, "cde", 0x12}, {3, "012", 0x1FFFFFFF}, {0, "", 0x13}};
    for (const auto &e : expected) {
        QCOMPARE(port->readRawData(buffer, e.maxLen, &frameId), e.data.size());
        QCOMPARE(QByteArray(buffer, e.data.size()), e.data);
        QCOMPARE(frameId, e.id);
    }
    QCOMPARE(port->readByteStream(buffer, sizeof buffer, &frameId), -1);
    QVERIFY(inject(canDevice, QCanBusFrame::DataFrame, 0x14, "n"));
    QCOMPARE(port->readRawData(buffer, sizeof buffer, nullptr), 1);
    QVERIFY(log.texts().isEmpty());

    // Bus errors from read to timeout are logged with the back-end's text;
    // the port stays open.
    for (int code = QCanBusDevice::NoError; code <= QCanBusDevice::TimeoutError; ++code) {
        log.clear();
        const QString text = QStringLiteral("bus trouble %1").arg(code);
        QVERIFY(QMetaObject::invokeMethod(canDevice, "injectError", Q_ARG(int, code), Q_ARG(QString, text)));
        QCOMPARE(log.texts(), code == QCanBusDevice::NoError ? QStringList() : QStringList{"PCom_CanBus_Port: " + text});
        QVERIFY(port->opened());
    }

    // In error, writes are refused before the back-end sees them; reads go on.
    log.clear();
    const int beforeError = writtenFrames(canDevice).size();
    QCOMPARE(port->writeRawData("abcde", 5, 1), -1);
    QVERIFY(log.texts().isEmpty());
    QCOMPARE(port->writeByteStream("abcde", 5, 1), -1);
    QCOMPARE(log.deviceTexts(KrLog_Interface::Error), QStringList{"PCom_CanBus_Port: 5 byte could not be send"});
    QCOMPARE(writtenFrames(canDevice).size(), beforeError);
    QVERIFY(inject(canDevice, QCanBusFrame::DataFrame, 0x21, "in"));
    QCOMPARE(port->readRawData(buffer, sizeof buffer, &frameId), 2);
    QCOMPARE(frameId, 0x21u);
    QVERIFY(QMetaObject::invokeMethod(canDevice, "resetError"));
    QCOMPARE(port->writeRawData("abcde", 5, 1), 5);
    QCOMPARE(writtenFrames(canDevice).size(), beforeError + 1);
}

QTEST_GUILESS_MAIN(tst_CanBusBackend)
#include "tst_canbus_backend.moc"
