#include "tests/support/LogCapture.h"
#include "serial/PCom_Com_Device.h"
#include "serial/PCom_Com_Port.h"

#include <QtTest>

// The property model shared by every port, exercised on the serial port,
// which needs no peer as long as it stays closed.
class tst_PropertyModel : public QObject
{
    Q_OBJECT
private slots:
    void writesOpenAndClose();
};

void tst_PropertyModel::writesOpenAndClose()
{
    PCom_Com_Device device(nullptr, nullptr);
    QScopedPointer<PCom_Com_Port> port(static_cast<PCom_Com_Port *>(device.createPort()));
    LogCapture log;
    QSignalSpy changed(port.data(), &AbstractTreeItem::dataChanged);

    // Equal values, also a text holding the same number, change nothing.
    const QString rate = port->getTavlinProperty("baudrate").toString();
    QCOMPARE(port->setTavlinProperty("baudrate", rate), QVariant(rate));
    QCOMPARE(port->setTavlinProperty("connect", false), QVariant(false));
    QVERIFY(log.texts().isEmpty() && changed.isEmpty());

    // Without a line, an open fails, and so does "connect", traced.
    QCOMPARE(port->setTavlinProperty("connect", true), QVariant(false));
    QCOMPARE(log.texts(), QStringList{"Plugin_Com_Port()::setTavlinProperty(connect, true) "});
    QVERIFY(!port->open(Plugin_Com_Port::ReadWrite) && !port->open({}));
    QCOMPARE(changed.count(), 3);
    QVERIFY(!port->opened() && port->tavlinProperty("device")->isWritable());

    // close() announces, but with nothing closed the locks are not refreshed.
    port->tavlinProperty("device")->setWritable(false);
    port->close();
    QCOMPARE(changed.count(), 4);
    QVERIFY(!port->tavlinProperty("device")->isWritable());
    QCOMPARE(log.texts().size(), 1);

    // A change is traced naming the port as it was, applied, announced and read back.
    log.clear();
    changed.clear();
    QCOMPARE(port->setTavlinProperty("baudrate", QStringLiteral("115200")), QVariant(115200));
    QCOMPARE(port->setTavlinProperty("device", QStringLiteral("ttyX9")), QVariant(QStringLiteral("ttyX9")));
    QCOMPARE(port->setTavlinProperty("baudrate", 9600), QVariant(9600));
    QCOMPARE(log.deviceTexts(KrLog_Interface::Trace),
             (QStringList{"Plugin_Com_Port()::setTavlinProperty(baudrate, 115200) ",
                          "Plugin_Com_Port()::setTavlinProperty(device, ttyX9) ",
                          "Plugin_Com_Port(ttyX9)::setTavlinProperty(baudrate, 9600) "}));
    QCOMPARE(log.texts().size(), 3);
    QCOMPARE(port->defaultText(), QStringLiteral("COM.ttyX9"));
    QCOMPARE(changed.count(), 3);
    QVERIFY(port->supportsHandler(QStringLiteral("dataMessageHandler")) && !port->usesFrameIds());
    // A new instance of the same kind on the same device, with state of its own.
    QScopedPointer<AbstractTreeItem> copy(port->createInstance());
    auto *other = qobject_cast<PCom_Com_Port *>(copy.data());
    QVERIFY(other && other != port.data() && other->device() == &device);
    QCOMPARE(other->getTavlinProperty("device"), QVariant(QString()));
    // Not a number: applied as 0.
    QCOMPARE(port->setTavlinProperty("baudrate", QStringLiteral("fast")).toInt(), 0);

    // Read-only and unknown names: traced and announced, nothing altered.
    log.clear();
    changed.clear();
    QCOMPARE(port->setTavlinProperty("plugin", QStringLiteral("other")), QVariant(QStringLiteral("PCom_Core::com")));
    QVERIFY(!port->setTavlinProperty("parity", QStringLiteral("even")).isValid());
    QCOMPARE(log.texts(), (QStringList{"Plugin_Com_Port(ttyX9)::setTavlinProperty(plugin, other) ",
                                       "Plugin_Com_Port(ttyX9)::setTavlinProperty(parity, even) "}));
    QCOMPARE(changed.count(), 2);
    QVERIFY(!port->getTavlinProperty("Device").isValid());
}

QTEST_GUILESS_MAIN(tst_PropertyModel)
#include "tst_propertymodel.moc"
