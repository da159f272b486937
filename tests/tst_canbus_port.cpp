#include "LogCapture.h"
#include "PCom_CanBus_Device.h"
#include "PCom_CanBus_Port.h"
#include "PCom_Core.h"

#include <QCanBus>
#include <QSignalSpy>
#include <QtTest>

// The CAN device and the CAN port's property model, without any link open.
class tst_CanBusPort : public QObject
{
    Q_OBJECT
private slots:
    void device();
    void newPortRecords();
    void propertyWrites();
    void backEndSharedByPorts();
    void openFailures();
    void closedPort();
};

static PCom_CanBus_Port *newPort(PCom_CanBus_Device &device)
{
    return static_cast<PCom_CanBus_Port *>(device.createPort());
}

static QString qtCreateError(const QString &plugin, const QString &interfaceName)
{
    QString error;
    QCanBusDevice *device = QCanBus::instance()->createDevice(plugin, interfaceName, &error);
    delete device;
    return error;
}

void tst_CanBusPort::device()
{
    PCom_Core core;
    QScopedPointer<Plugin_Com_Device> created(core.createDevice(nullptr, QStringLiteral("canBus")));
    auto *device = dynamic_cast<PCom_CanBus_Device *>(created.data());
    QVERIFY(device);
    QCOMPARE(device->name(), QStringLiteral("CAN bus"));
    QCOMPARE(device->getDocPath(), QStringLiteral(":/PCom_Core/canBus"));
    QCOMPARE(device->getDocBriefPath(), QStringLiteral(":/PCom_Core/canBus/help/brief.html"));
    QCOMPARE(device->canPlugin(), QString());

    LogCapture log;
    QCOMPARE(device->availablePorts(), QStringList());
    device->deletePort(nullptr);
    QVERIFY(log.texts().isEmpty());

    QVERIFY(device->setCanPlugin(QStringLiteral("virtualcan")));
    QCOMPARE(device->availablePorts(), (QStringList{"can0", "can1"}));
    QVERIFY(log.texts().isEmpty());

    // A name Qt does not know: Qt's text is logged, the list stays empty.
    QVERIFY(device->setCanPlugin(QStringLiteral("nosuchcan")));
    QString qtError;
    QVERIFY(QCanBus::instance()->availableDevices(QStringLiteral("nosuchcan"), &qtError).isEmpty());
    QVERIFY(!qtError.isEmpty());
    QCOMPARE(device->availablePorts(), QStringList());
    QCOMPARE(log.deviceTexts(KrLog_Interface::Error), QStringList{"PCom_CanBus_Device: " + qtError});
    QCOMPARE(log.deviceTexts().size(), 1);

    // The throw-away port of the documentation leaves the back-end alone.
    QVERIFY(device->setCanPlugin(QStringLiteral("virtualcan")));
    const QString doc = device->getChildPropertyDoc(Version(QStringLiteral("2.20")));
    QVERIFY(doc.contains(QStringLiteral("Port object")));
    QVERIFY(doc.contains(QStringLiteral("<td>interface</td>")));
    QVERIFY(!device->getChildPropertyDoc(Version(QStringLiteral("2.12"))).contains(QStringLiteral("<td>interface</td>")));
    QCOMPARE(device->canPlugin(), QStringLiteral("virtualcan"));

    QVERIFY(device->setCanPlugin(QString()));
    QCOMPARE(device->canPlugin(), QString());
}

void tst_CanBusPort::newPortRecords()
{
    PCom_CanBus_Device device(nullptr, nullptr);
    QScopedPointer<PCom_CanBus_Port> port(newPort(device));

    QStringList names;
    for (TavlinProperty *p : port->tavlinProperties())
        names << p->name();
    QCOMPARE(names, (QStringList{"plugin", "interface", "device", "baudrate", "connect"}));

    const TavlinProperty *plugin = port->tavlinProperty("plugin");
    QCOMPARE(plugin->inputType(), TavlinProperty::FreeText);
    QCOMPARE(plugin->description, QStringLiteral("Plugin name"));
    QVERIFY(!plugin->isWritable());
    QVERIFY(!plugin->isSupported(Version(QStringLiteral("2.10"))));
    QVERIFY(plugin->isSupported(Version(QStringLiteral("2.12"))));

    const TavlinProperty *interface = port->tavlinProperty("interface");
    QCOMPARE(interface->inputType(), TavlinProperty::Choice);
    QCOMPARE(interface->description, QString());
    QCOMPARE(interface->options(), QCanBus::instance()->plugins());
    QVERIFY(interface->options().contains(QStringLiteral("virtualcan")));
    QVERIFY(!interface->isSupported(Version(QStringLiteral("2.12"))));
    QVERIFY(interface->isSupported(Version(QStringLiteral("2.20"))));

    const TavlinProperty *devName = port->tavlinProperty("device");
    QCOMPARE(devName->inputType(), TavlinProperty::Choice);
    QCOMPARE(devName->description, QStringLiteral("Device name"));
    QCOMPARE(devName->options(), QStringList());
    QVERIFY(devName->isSupported(Version(QStringLiteral("1.0"))));

    const TavlinProperty *baud = port->tavlinProperty("baudrate");
    QCOMPARE(baud->inputType(), TavlinProperty::Choice);
    QCOMPARE(baud->description, QStringLiteral("Baudrate in baud"));
    const QStringList rates{"5000",   "10000",  "20000",  "33000",  "47000",  "50000",  "83000",
                            "95000",  "100000", "125000", "250000", "500000", "800000", "1000000"};
    QCOMPARE(baud->options(), rates);
    QCOMPARE(PCom_CanBus_Port::standardBaudRates(), rates);

    const TavlinProperty *connect = port->tavlinProperty("connect");
    QCOMPARE(connect->inputType(), TavlinProperty::Boolean);
    QCOMPARE(connect->defaultValue(), QStringLiteral("false"));
    QCOMPARE(connect->description, QStringLiteral("Open / close the port"));

    for (const TavlinProperty *p : port->tavlinProperties()) {
        QVERIFY(p->isVisible() && !p->isValidated() && p->isStored());
        QVERIFY(!p->validator());
        if (p->name() != QLatin1String("connect"))
            QCOMPARE(p->defaultValue(), QString());
        if (p->name() != QLatin1String("plugin"))
            QVERIFY(p->isWritable());
    }

    QCOMPARE(port->getTavlinProperty("plugin"), QVariant(QStringLiteral("PCom_Core::canBus")));
    QCOMPARE(port->getTavlinProperty("interface"), QVariant(QString()));
    QCOMPARE(port->getTavlinProperty("device"), QVariant(QString()));
    QCOMPARE(port->getTavlinProperty("baudrate"), QVariant(QString()));
    QCOMPARE(port->getTavlinProperty("connect"), QVariant(false));
    QVERIFY(!port->getTavlinProperty("Device").isValid());
    QCOMPARE(port->defaultText(), QStringLiteral("."));
    QVERIFY(port->isPluginPort());
    QVERIFY(port->usesFrameIds());
    QCOMPARE(port->frameLength(), 8);
    QVERIFY(port->supportsHandler(QStringLiteral("dataMessageHandler")));
    QVERIFY(!port->supportsHandler(QStringLiteral("DataMessageHandler")));

    QScopedPointer<AbstractTreeItem> copy(port->createInstance());
    auto *other = qobject_cast<PCom_CanBus_Port *>(copy.data());
    QVERIFY(other && other != port.data());
    QCOMPARE(other->device(), &device);
}

void tst_CanBusPort::propertyWrites()
{
    PCom_CanBus_Device device(nullptr, nullptr);
    QScopedPointer<PCom_CanBus_Port> port(newPort(device));
    QSignalSpy changed(port.data(), &AbstractTreeItem::dataChanged);
    LogCapture log;

    // A number is kept as its digits in text.
    QCOMPARE(port->setTavlinProperty("baudrate", 250000), QVariant(QStringLiteral("250000")));
    QCOMPARE(port->getTavlinProperty("baudrate").userType(), int(QMetaType::QString));
    QCOMPARE(port->setTavlinProperty("device", QStringLiteral("can1")), QVariant(QStringLiteral("can1")));
    QCOMPARE(port->setTavlinProperty("baudrate", QStringLiteral("fast")), QVariant(QStringLiteral("fast")));
    QCOMPARE(log.deviceTexts(KrLog_Interface::Trace),
             (QStringList{"Plugin_Com_Port()::setTavlinProperty(baudrate, 250000) ",
                          "Plugin_Com_Port()::setTavlinProperty(device, can1) ",
                          "Plugin_Com_Port(can1)::setTavlinProperty(baudrate, fast) "}));
    QCOMPARE(log.texts().size(), 3);
    QCOMPARE(changed.count(), 3);
    QCOMPARE(port->defaultText(), QStringLiteral(".can1"));

    // Equal values, also a number against its digits, change nothing.
    port->setTavlinProperty("baudrate", 500000);
    log.clear();
    changed.clear();
    QCOMPARE(port->setTavlinProperty("baudrate", 500000), QVariant(500000));
    QCOMPARE(port->setTavlinProperty("device", QStringLiteral("can1")), QVariant(QStringLiteral("can1")));
    QCOMPARE(port->setTavlinProperty("connect", false), QVariant(false));
    QCOMPARE(port->setTavlinProperty("interface", QString()), QVariant(QString()));
    QVERIFY(log.texts().isEmpty());
    QCOMPARE(changed.count(), 0);

    // Read-only and unknown names: traced and announced, nothing altered.
    QCOMPARE(port->setTavlinProperty("plugin", QStringLiteral("other")), QVariant(QStringLiteral("PCom_Core::canBus")));
    QVERIFY(!port->setTavlinProperty("bitrate", 5).isValid());
    QCOMPARE(log.deviceTexts(KrLog_Interface::Trace),
             (QStringList{"Plugin_Com_Port(can1)::setTavlinProperty(plugin, other) ",
                          "Plugin_Com_Port(can1)::setTavlinProperty(bitrate, 5) "}));
    QCOMPARE(changed.count(), 2);
    QCOMPARE(port->getTavlinProperty("baudrate"), QVariant(QStringLiteral("500000")));
}

void tst_CanBusPort::backEndSharedByPorts()
{
    PCom_CanBus_Device device(nullptr, nullptr);
    QScopedPointer<PCom_CanBus_Port> first(newPort(device));
    QScopedPointer<PCom_CanBus_Port> second(newPort(device));
    QCOMPARE(first->tavlinProperty("device")->options(), QStringList());

    LogCapture log;
    QCOMPARE(first->setTavlinProperty("interface", QStringLiteral("virtualcan")), QVariant(QStringLiteral("virtualcan")));
    QCOMPARE(device.canPlugin(), QStringLiteral("virtualcan"));
    QCOMPARE(second->getTavlinProperty("interface"), QVariant(QStringLiteral("virtualcan")));
    QCOMPARE(first->tavlinProperty("device")->options(), (QStringList{"can0", "can1"}));
    QCOMPARE(second->tavlinProperty("device")->options(), QStringList());
    QCOMPARE(log.texts(), QStringList{"Plugin_Com_Port()::setTavlinProperty(interface, virtualcan) "});

    // The second port now writes an unknown back-end; only its list is refreshed.
    log.clear();
    second->setTavlinProperty("interface", QStringLiteral("nosuchcan"));
    QCOMPARE(first->getTavlinProperty("interface"), QVariant(QStringLiteral("nosuchcan")));
    QCOMPARE(second->tavlinProperty("device")->options(), QStringList());
    QCOMPARE(first->tavlinProperty("device")->options(), (QStringList{"can0", "can1"}));
    QCOMPARE(log.deviceTexts(KrLog_Interface::Error).size(), 1);
    QVERIFY(log.deviceTexts(KrLog_Interface::Error).first().startsWith(QStringLiteral("PCom_CanBus_Device: ")));

    // A port built after the choice lists the back-end's interfaces at once.
    device.setCanPlugin(QStringLiteral("virtualcan"));
    QScopedPointer<PCom_CanBus_Port> third(newPort(device));
    QCOMPARE(third->tavlinProperty("device")->options(), (QStringList{"can0", "can1"}));
}

void tst_CanBusPort::openFailures()
{
    PCom_CanBus_Device device(nullptr, nullptr);
    QScopedPointer<PCom_CanBus_Port> port(newPort(device));
    QSignalSpy changed(port.data(), &AbstractTreeItem::dataChanged);
    LogCapture log;

    // No back-end chosen.
    const QString noBackEnd = qtCreateError(QString(), QString());
    QVERIFY(!noBackEnd.isEmpty());
    QCOMPARE(port->setTavlinProperty("connect", true), QVariant(false));
    QCOMPARE(log.deviceTexts(),
             (QStringList{"Plugin_Com_Port()::setTavlinProperty(connect, true) ",
                          QStringLiteral("Error creating device '': '%1'").arg(noBackEnd)}));
    QCOMPARE(log.deviceTexts(KrLog_Interface::Error).size(), 1);
    QCOMPARE(changed.count(), 1);
    QVERIFY(!port->opened());
    QVERIFY(port->tavlinProperty("device")->isWritable());
    QVERIFY(port->tavlinProperty("baudrate")->isWritable());

    // A back-end Qt does not know, through open().
    device.setCanPlugin(QStringLiteral("nosuchcan"));
    port->setTavlinProperty("device", QStringLiteral("can0"));
    const QString unknown = qtCreateError(QStringLiteral("nosuchcan"), QStringLiteral("can0"));
    QVERIFY(!unknown.isEmpty());
    log.clear();
    changed.clear();
    QVERIFY(!port->open(Plugin_Com_Port::ReadWrite));
    QCOMPARE(log.deviceTexts(), QStringList{QStringLiteral("Error creating device 'can0': '%1'").arg(unknown)});
    QCOMPARE(changed.count(), 1);
    QCOMPARE(port->getTavlinProperty("connect"), QVariant(false));
}

void tst_CanBusPort::closedPort()
{
    PCom_CanBus_Device device(nullptr, nullptr);
    QScopedPointer<PCom_CanBus_Port> port(newPort(device));
    QSignalSpy changed(port.data(), &AbstractTreeItem::dataChanged);
    LogCapture log;
    char buffer[16] = {};
    unsigned int frameId = 77;

    // The plain byte operations do nothing, open or not.
    QCOMPARE(port->writeRawData("abc", 3), 0);
    QCOMPARE(port->writeByteStream("abc", 3), 0);
    QCOMPARE(port->readRawData(buffer, 16), 0);
    QCOMPARE(port->readByteStream(buffer, 16), 0);
    QCOMPARE(port->writeRawData(nullptr, -1), 0);
    Plugin_Com_Port *base = port.data();
    QCOMPARE(base->writeRawData("abc", 3), 0);
    QCOMPARE(base->readRawData(buffer, 16), 0);
    QVERIFY(log.texts().isEmpty());

    QCOMPARE(port->writeRawData("abcde", 5, 0x10), -1);
    QVERIFY(log.texts().isEmpty());
    QCOMPARE(port->writeByteStream("abcde", 5, 0x10), -1);
    QCOMPARE(port->writeByteStream("", 0, 0x10), -1);
    QCOMPARE(log.deviceTexts(KrLog_Interface::Error),
             (QStringList{"PCom_CanBus_Port: 5 byte could not be send", "PCom_CanBus_Port: 0 byte could not be send"}));
    QCOMPARE(port->readRawData(buffer, 16, &frameId), -1);
    QCOMPARE(port->readByteStream(buffer, 16, &frameId), -1);
    QCOMPARE(port->readRawData(buffer, 16, nullptr), -1);
    QCOMPARE(frameId, 77u);
    QCOMPARE(changed.count(), 0);

    // Closing a closed port does not refresh the locks; close() still announces.
    log.clear();
    port->tavlinProperty("device")->setWritable(false);
    port->closePrivate();
    QCOMPARE(changed.count(), 0);
    port->close();
    QCOMPARE(changed.count(), 1);
    QVERIFY(!port->tavlinProperty("device")->isWritable());
    QVERIFY(log.texts().isEmpty());
}

QTEST_GUILESS_MAIN(tst_CanBusPort)
#include "tst_canbus_port.moc"
