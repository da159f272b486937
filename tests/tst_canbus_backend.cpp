#include "LogCapture.h"
#include "PCom_CanBus_Device.h"
#include "PCom_CanBus_Port.h"
#include "TestCanControl.h"

#include <QCanBus>
#include <QCanBusDevice>
#include <QCanBusFrame>
#include <QPointer>
#include <QSignalSpy>
#include <QtTest>

#include <iterator>

// The CAN port against the "testcan" back-end of the tests, which produces
// what a real bus does and virtualcan does not: bus errors, error frames,
// refused frames, kept bit rates and failed connections.
class tst_CanBusBackend : public QObject
{
    Q_OBJECT
public:
    tst_CanBusBackend();

private slots:
    void cleanup();
    void interfaceListing();
    void connectionLines();
    void openFailures();
    void busErrors();
    void framesWritten();
    void framesRead();
};

tst_CanBusBackend::tst_CanBusBackend()
{
    // Before anything asks QCanBus for its back-ends.
    QCoreApplication::addLibraryPath(QStringLiteral(PCOM_TESTCAN_LIBRARY_DIR));
}

void tst_CanBusBackend::cleanup()
{
    QCoreApplication::instance()->setProperty(TestCan::interfaces, QVariant());
    QCoreApplication::instance()->setProperty(TestCan::enumerationError, QVariant());
    QCoreApplication::instance()->setProperty(TestCan::lastDisconnected, QVariant());
}

static QCanBusDevice *lastCanDevice()
{
    return qobject_cast<QCanBusDevice *>(QCoreApplication::instance()->property(TestCan::lastDevice).value<QObject *>());
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

void tst_CanBusBackend::interfaceListing()
{
    QVERIFY(QCanBus::instance()->plugins().contains(QStringLiteral("testcan")));
    PCom_CanBus_Device device(nullptr, nullptr);
    QScopedPointer<Plugin_Com_Port> port(device.createPort());
    QVERIFY(port->tavlinProperty("interface")->options().contains(QStringLiteral("testcan")));

    LogCapture log;
    QCOMPARE(port->setTavlinProperty("interface", QStringLiteral("testcan")), QVariant(QStringLiteral("testcan")));
    QCOMPARE(port->tavlinProperty("device")->options(), (QStringList{"test0", "test1"}));
    QCOMPARE(device.availablePorts(), (QStringList{"test0", "test1"}));

    // No interfaces and no error: an empty list, nothing logged.
    QCoreApplication::instance()->setProperty(TestCan::interfaces, QStringList());
    QCOMPARE(device.availablePorts(), QStringList());
    QCOMPARE(log.deviceTexts(KrLog_Interface::Error), QStringList());

    // An error text is logged, and whatever was listed is still returned.
    QCoreApplication::instance()->setProperty(TestCan::interfaces, QStringList{"test7", "test3"});
    QCoreApplication::instance()->setProperty(TestCan::enumerationError, QStringLiteral("driver library missing"));
    QCOMPARE(device.availablePorts(), (QStringList{"test7", "test3"}));
    QCOMPARE(log.deviceTexts(KrLog_Interface::Error), QStringList{"PCom_CanBus_Device: driver library missing"});
}

void tst_CanBusBackend::connectionLines()
{
    PCom_CanBus_Device device(nullptr, nullptr);
    LogCapture log;

    QScopedPointer<PCom_CanBus_Port> port(openPort(device, QStringLiteral("test0"), 250000));
    QVERIFY(port->opened());
    QPointer<QCanBusDevice> canDevice = lastCanDevice();
    QVERIFY(canDevice);
    QCOMPARE(canDevice->state(), QCanBusDevice::ConnectedState);
    // The rate reaches the back-end as text.
    const QVariant rate = canDevice->configurationParameter(QCanBusDevice::BitRateKey);
    QCOMPARE(rate.userType(), int(QMetaType::QString));
    QCOMPARE(rate.toString(), QStringLiteral("250000"));
    QCOMPARE(log.deviceTexts(KrLog_Interface::Progress),
             QStringList{"Plugin: testcan, connected to test0 at 250000 baud"});

    // Closing disconnects the CAN device and deletes it at once.
    port->close();
    QCOMPARE(QCoreApplication::instance()->property(TestCan::lastDisconnected).toString(), QStringLiteral("test0"));
    QVERIFY(!canDevice);

    // An empty rate is handed over as empty text and reads back as 0.
    log.clear();
    port.reset(openPort(device, QStringLiteral("test1")));
    canDevice = lastCanDevice();
    QCOMPARE(canDevice->configurationParameter(QCanBusDevice::BitRateKey), QVariant(QString()));
    QCOMPARE(log.deviceTexts(KrLog_Interface::Progress), QStringList{"Plugin: testcan, connected to test1 at 0 baud"});

    // Deleting an open port closes its link the same way.
    device.deletePort(port.take());
    QCOMPARE(QCoreApplication::instance()->property(TestCan::lastDisconnected).toString(), QStringLiteral("test1"));
    QVERIFY(!canDevice);

    // A back-end that keeps no rate: the line names none.
    log.clear();
    port.reset(openPort(device, QLatin1String(TestCan::noBitRate), QStringLiteral("125000")));
    QVERIFY(port->opened());
    QCOMPARE(log.deviceTexts(KrLog_Interface::Progress), QStringList{"Plugin: testcan, connected to no-bitrate"});
}

void tst_CanBusBackend::openFailures()
{
    PCom_CanBus_Device device(nullptr, nullptr);
    LogCapture log;

    QScopedPointer<PCom_CanBus_Port> port(openPort(device, QLatin1String(TestCan::failConnect)));
    QVERIFY(!port->opened());
    // The back-end's error signal is logged first, then the failed connect;
    // the CAN device is deleted without a disconnect.
    QCOMPARE(log.deviceTexts(KrLog_Interface::Error),
             (QStringList{"PCom_CanBus_Port: testcan cannot connect", "Connection error: testcan cannot connect"}));
    QVERIFY(!lastCanDevice());
    QVERIFY(!QCoreApplication::instance()->property(TestCan::lastDisconnected).isValid());
    QVERIFY(port->tavlinProperty("device")->isWritable());
    QVERIFY(log.deviceTexts(KrLog_Interface::Progress).isEmpty());

    // Through "connect": the same lines after the trace, and false read back.
    log.clear();
    QCOMPARE(port->setTavlinProperty("connect", true), QVariant(false));
    QCOMPARE(log.deviceTexts(),
             (QStringList{"Plugin_Com_Port(fail-connect)::setTavlinProperty(connect, true) ",
                          "PCom_CanBus_Port: testcan cannot connect", "Connection error: testcan cannot connect"}));

    // The back-end makes no device for this interface.
    log.clear();
    port.reset(openPort(device, QLatin1String(TestCan::refuseCreate)));
    QVERIFY(!port->opened());
    QCOMPARE(log.deviceTexts(KrLog_Interface::Error),
             QStringList{"Error creating device 'refuse-create': 'testcan creates no device here'"});
}

void tst_CanBusBackend::busErrors()
{
    PCom_CanBus_Device device(nullptr, nullptr);
    QScopedPointer<PCom_CanBus_Port> port(openPort(device, QStringLiteral("test0")));
    QCanBusDevice *canDevice = lastCanDevice();
    QVERIFY(canDevice);
    LogCapture log;

    QVERIFY(QMetaObject::invokeMethod(canDevice, "injectError", Q_ARG(int, int(QCanBusDevice::NoError)),
                                      Q_ARG(QString, QStringLiteral("all well"))));
    QVERIFY(log.texts().isEmpty());

    for (int code = QCanBusDevice::ReadError; code <= QCanBusDevice::TimeoutError; ++code) {
        log.clear();
        const QString text = QStringLiteral("bus trouble %1").arg(code);
        QVERIFY(QMetaObject::invokeMethod(canDevice, "injectError", Q_ARG(int, code), Q_ARG(QString, text)));
        QCOMPARE(log.deviceTexts(KrLog_Interface::Error), QStringList{"PCom_CanBus_Port: " + text});
        QVERIFY(port->opened());
    }

    // In error, writes are refused before the back-end sees them; reads go on.
    log.clear();
    QCOMPARE(port->writeRawData("abcde", 5, 1), -1);
    QVERIFY(log.texts().isEmpty());
    QCOMPARE(port->writeByteStream("abcde", 5, 1), -1);
    QCOMPARE(log.deviceTexts(KrLog_Interface::Error), QStringList{"PCom_CanBus_Port: 5 byte could not be send"});
    QVERIFY(writtenFrames(canDevice).isEmpty());
    QVERIFY(inject(canDevice, QCanBusFrame::DataFrame, 0x21, "in"));
    char buffer[8];
    unsigned int frameId = 0;
    QCOMPARE(port->readRawData(buffer, sizeof buffer, &frameId), 2);
    QCOMPARE(frameId, 0x21u);

    QVERIFY(QMetaObject::invokeMethod(canDevice, "resetError"));
    QCOMPARE(port->writeRawData("abcde", 5, 1), 5);
    QCOMPARE(writtenFrames(canDevice).size(), 1);
}

void tst_CanBusBackend::framesWritten()
{
    PCom_CanBus_Device device(nullptr, nullptr);
    QScopedPointer<PCom_CanBus_Port> port(openPort(device, QStringLiteral("test0")));
    QCanBusDevice *canDevice = lastCanDevice();
    QVERIFY(canDevice);
    LogCapture log;
    const QByteArray bytes(80, 'b');

    struct Case {
        int length;
        unsigned int frameId;
        bool valid;
    };
    // Qt takes more than 8 bytes only in its flexible-data-rate lengths, and
    // an identifier above 0x7FF only in the extended format, which the port
    // never sets.
    const Case cases[] = {{8, 0x123, true},        {0, 0x1, true},         {9, 0x2, false},  {12, 0x3, true},
                          {16, 0x4, true},         {20, 0x5, true},        {24, 0x6, true},  {32, 0x7, true},
                          {48, 0x8, true},         {64, 0x7FF, true},      {65, 0x9, false}, {1, 0x800, false},
                          {1, 0x1FFFFFFF, false},  {1, 0x20000000, false}, {1, 0xFFFFFFFF, false}};
    for (const Case &c : cases) {
        const QVariantList before = writtenFrames(canDevice);
        QCOMPARE(port->writeRawData(bytes.constData(), c.length, c.frameId), c.valid ? c.length : -1);
        QCOMPARE(port->writeByteStream(bytes.constData(), c.length, c.frameId), c.length);
        const QVariantList after = writtenFrames(canDevice);
        QCOMPARE(after.size(), before.size() + 2);
        for (int i = before.size(); i < after.size(); ++i) {
            const QVariantMap frame = after.at(i).toMap();
            QCOMPARE(frame.value("type").toInt(), int(QCanBusFrame::DataFrame));
            QCOMPARE(frame.value("extended").toBool(), false);
            QCOMPARE(frame.value("fd").toBool(), c.length > 8);
            QCOMPARE(frame.value("valid").toBool(), c.valid);
            QCOMPARE(frame.value("payload").toByteArray(), bytes.left(c.length));
            QCOMPARE(frame.value("id").toUInt(), c.frameId <= 0x1FFFFFFF ? c.frameId : 0u);
        }
    }

    // A frame the back-end refuses: only the raw write tells.
    canDevice->setProperty(TestCan::refuseWrites, true);
    QCOMPARE(port->writeRawData("abc", 3, 0x10), -1);
    QCOMPARE(port->writeByteStream("abc", 3, 0x10), 3);
    QCOMPARE(writtenFrames(canDevice).size(), int(std::size(cases)) * 2 + 2);
    QCOMPARE(port->writeRawData(bytes.constData(), -1, 0x10), -1);
    QVERIFY(log.deviceTexts().isEmpty());
    QCOMPARE(port->writeByteStream(bytes.constData(), -1, 0x10), -1);
    QCOMPARE(log.deviceTexts(), QStringList{"PCom_CanBus_Port: -1 byte could not be send"});
}

void tst_CanBusBackend::framesRead()
{
    PCom_CanBus_Device device(nullptr, nullptr);
    QScopedPointer<PCom_CanBus_Port> port(openPort(device, QStringLiteral("test0")));
    QCanBusDevice *canDevice = lastCanDevice();
    QVERIFY(canDevice);
    QSignalSpy ready(port.data(), &Plugin_Com_Port::readyRead);
    LogCapture log;
    char buffer[16];
    unsigned int frameId = 0;

    QCOMPARE(port->readRawData(buffer, sizeof buffer, &frameId), -1);

    // An error frame: logged through the back-end's reading of it.
    QVERIFY(inject(canDevice, QCanBusFrame::ErrorFrame, 0, QByteArray()));
    QCOMPARE(ready.count(), 1);
    QCOMPARE(port->readRawData(buffer, sizeof buffer, &frameId), -1);
    QCOMPARE(frameId, 0xFFFFFFFFu);
    QCOMPARE(log.deviceTexts(KrLog_Interface::Error), QStringList{"PCom_CanBus_Port: testcan error frame 0x40"});
    QVERIFY(inject(canDevice, QCanBusFrame::ErrorFrame, 0, QByteArray()));
    QCOMPARE(port->readByteStream(buffer, sizeof buffer, nullptr), -1);
    QCOMPARE(log.deviceTexts(KrLog_Interface::Error).size(), 2);
    QVERIFY(port->opened());

    // Every other frame type reads as data with its identifier.
    log.clear();
    QVERIFY(inject(canDevice, QCanBusFrame::RemoteRequestFrame, 0x10, QByteArray()));
    QVERIFY(inject(canDevice, QCanBusFrame::UnknownFrame, 0x11, "ab"));
    QVERIFY(inject(canDevice, QCanBusFrame::InvalidFrame, 0x12, "cde"));
    QVERIFY(inject(canDevice, QCanBusFrame::DataFrame, 0x1FFFFFFF, "0123456789abcdef"));
    QCOMPARE(ready.count(), 6);
    QCOMPARE(port->readRawData(buffer, sizeof buffer, &frameId), 0);
    QCOMPARE(frameId, 0x10u);
    QCOMPARE(port->readByteStream(buffer, sizeof buffer, &frameId), 2);
    QCOMPARE(QByteArray(buffer, 2), QByteArray("ab"));
    QCOMPARE(frameId, 0x11u);
    QCOMPARE(port->readRawData(buffer, sizeof buffer, &frameId), 3);
    QCOMPARE(QByteArray(buffer, 3), QByteArray("cde"));
    QCOMPARE(frameId, 0x12u);
    QCOMPARE(port->readRawData(buffer, 0, &frameId), 0);
    QCOMPARE(frameId, 0x1FFFFFFFu);
    QCOMPARE(port->readRawData(buffer, sizeof buffer, &frameId), -1);
    QVERIFY(log.texts().isEmpty());
}

QTEST_GUILESS_MAIN(tst_CanBusBackend)
#include "tst_canbus_backend.moc"
