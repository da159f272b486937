#include "tests/support/LogCapture.h"
#include "canbus/PCom_CanBus_Device.h"
#include "canbus/PCom_CanBus_Port.h"

#include <QCanBus>
#include <QSignalSpy>
#include <QtTest>

// The CAN device and the CAN port's property model, without any link open.
class tst_CanBusPort : public QObject
{
    Q_OBJECT
private slots:
    void deviceAndNewPort();
    void propertyWrites();
    void closedPort();
};

static PCom_CanBus_Port *newPort(PCom_CanBus_Device &device)
{
    return static_cast<PCom_CanBus_Port *>(device.createPort());
}

void tst_CanBusPort::deviceAndNewPort()
{
    PCom_CanBus_Device device(nullptr, nullptr);
    LogCapture log;
    QCOMPARE(device.availablePorts(), QStringList());
    QScopedPointer<PCom_CanBus_Port> port(newPort(device));

    QStringList names, values, writable;
    for (const TavlinProperty *p : port->tavlinProperties()) {
        names << p->name();
        values << port->getTavlinProperty(p->name()).toString();
        if (p->isWritable())
            writable << p->name();
    }
    QCOMPARE(names, (QStringList{"plugin", "interface", "device", "baudrate", "connect"}));
    QCOMPARE(values, (QStringList{"PCom_Core::canBus", "", "", "", "false"}));
    QCOMPARE(writable, (QStringList{"interface", "device", "baudrate", "connect"}));
    QVERIFY(port->tavlinProperty("interface")->options().contains(QStringLiteral("virtualcan")));
    QVERIFY(port->tavlinProperty("baudrate")->options().contains(QStringLiteral("500000")));
    QCOMPARE(port->defaultText(), QStringLiteral("."));
    QVERIFY(port->isPluginPort() && port->usesFrameIds());
    QCOMPARE(port->frameLength(), 8);
    QScopedPointer<AbstractTreeItem> copy(port->createInstance());
    auto *other = qobject_cast<PCom_CanBus_Port *>(copy.data());
    QVERIFY(other && other != port.data() && other->device() == &device);

    // The throw-away port of the documentation leaves the back-end alone;
    // "plugin" is documented from 2.12 on, "interface" from 2.20 on.
    QVERIFY(device.setCanPlugin(QStringLiteral("virtualcan")));
    QCOMPARE(device.availablePorts(), (QStringList{"can0", "can1"}));
    auto doc = [&device](const char *version) { return device.getChildPropertyDoc(Version(QLatin1String(version))); };
    QVERIFY(!doc("2.10").contains(QStringLiteral("<td>plugin</td>")));
    QVERIFY(doc("2.12").contains(QStringLiteral("<td>plugin</td>")));
    QVERIFY(!doc("2.12").contains(QStringLiteral("<td>interface</td>")));
    QVERIFY(doc("2.20").contains(QStringLiteral("<td>interface</td>")));
    QCOMPARE(device.canPlugin(), QStringLiteral("virtualcan"));
    QVERIFY(log.texts().isEmpty());
}

void tst_CanBusPort::propertyWrites()
{
    PCom_CanBus_Device device(nullptr, nullptr);
    QScopedPointer<PCom_CanBus_Port> first(newPort(device)), second(newPort(device));
    QSignalSpy changed(first.data(), &AbstractTreeItem::dataChanged);
    LogCapture log;

    // A number is kept as its digits in text.
    QCOMPARE(first->setTavlinProperty("baudrate", 250000), QVariant(QStringLiteral("250000")));
    QCOMPARE(first->getTavlinProperty("baudrate").userType(), int(QMetaType::QString));
    QCOMPARE(first->setTavlinProperty("device", QStringLiteral("can1")), QVariant(QStringLiteral("can1")));
    QCOMPARE(first->setTavlinProperty("baudrate", QStringLiteral("fast")), QVariant(QStringLiteral("fast")));
    QCOMPARE(log.deviceTexts(KrLog_Interface::Trace),
             (QStringList{"Plugin_Com_Port()::setTavlinProperty(baudrate, 250000) ",
                          "Plugin_Com_Port()::setTavlinProperty(device, can1) ",
                          "Plugin_Com_Port(can1)::setTavlinProperty(baudrate, fast) "}));
    QCOMPARE(log.texts().size(), 3);
    QCOMPARE(changed.count(), 3);
    QCOMPARE(first->defaultText(), QStringLiteral(".can1"));

    // Equal values, also a number against its digits, change nothing.
    first->setTavlinProperty("baudrate", 500000);
    log.clear();
    changed.clear();
    QCOMPARE(first->setTavlinProperty("baudrate", 500000), QVariant(500000));
    QCOMPARE(first->setTavlinProperty("connect", false), QVariant(false));
    QCOMPARE(first->setTavlinProperty("interface", QString()), QVariant(QString()));
    QVERIFY(log.texts().isEmpty() && changed.isEmpty());

    // The back-end is the device's; only the writing port refreshes its list,
    // and a port built later lists the back-end's interfaces at once.
    const QStringList virtualCan{"can0", "can1"};
    first->setTavlinProperty("interface", QStringLiteral("virtualcan"));
    QCOMPARE(second->getTavlinProperty("interface"), QVariant(QStringLiteral("virtualcan")));
    QCOMPARE(first->tavlinProperty("device")->options(), virtualCan);
    QCOMPARE(second->tavlinProperty("device")->options(), QStringList());
    second->setTavlinProperty("interface", QStringLiteral("nosuchcan"));
    QCOMPARE(first->getTavlinProperty("interface"), QVariant(QStringLiteral("nosuchcan")));
    QCOMPARE(first->tavlinProperty("device")->options(), virtualCan);
    device.setCanPlugin(QStringLiteral("virtualcan"));
    QScopedPointer<PCom_CanBus_Port> third(newPort(device));
    QCOMPARE(third->tavlinProperty("device")->options(), virtualCan);
}

void tst_CanBusPort::closedPort()
{
    PCom_CanBus_Device device(nullptr, nullptr);
    QScopedPointer<PCom_CanBus_Port> port(newPort(device));
    QSignalSpy changed(port.data(), &AbstractTreeItem::dataChanged);
    LogCapture log;

    // No back-end chosen: Qt's text is logged and the port stays closed.
    QString noBackEnd;
    delete QCanBus::instance()->createDevice(QString(), QString(), &noBackEnd);
    QVERIFY(!noBackEnd.isEmpty());
    QCOMPARE(port->setTavlinProperty("connect", true), QVariant(false));
    QCOMPARE(log.texts(), (QStringList{"Plugin_Com_Port()::setTavlinProperty(connect, true) ",
                                       QStringLiteral("Error creating device '': '%1'").arg(noBackEnd)}));
    QCOMPARE(log.deviceTexts(KrLog_Interface::Error).size(), 1);
    QCOMPARE(changed.count(), 1);
    QVERIFY(port->tavlinProperty("device")->isWritable() && port->tavlinProperty("baudrate")->isWritable());

    // The plain byte operations do nothing, open or not; frames fail, and
    // only the byte stream logs it.
    log.clear();
    char buffer[16] = {};
    unsigned int frameId = 77;
    Plugin_Com_Port *base = port.data();
    QCOMPARE(base->writeRawData("abc", 3), 0);
    QCOMPARE(base->readRawData(buffer, 16), 0);
    QCOMPARE(port->writeByteStream("abc", 3), 0);
    QCOMPARE(port->readByteStream(buffer, 16), 0);
    QCOMPARE(base->writeRawData("abcde", 5, 0x10), -1);
    QVERIFY(log.texts().isEmpty());
    QCOMPARE(port->writeByteStream("abcde", 5, 0x10), -1);
    QCOMPARE(port->writeByteStream("", 0, 0x10), -1);
    QCOMPARE(log.deviceTexts(KrLog_Interface::Error),
             (QStringList{"PCom_CanBus_Port: 5 byte could not be send", "PCom_CanBus_Port: 0 byte could not be send"}));
    QCOMPARE(base->readRawData(buffer, 16, &frameId), -1);
    QCOMPARE(port->readByteStream(buffer, 16, &frameId), -1);
    QCOMPARE(frameId, 77u);
}

QTEST_GUILESS_MAIN(tst_CanBusPort)
#include "tst_canbus_port.moc"
