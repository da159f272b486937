#include "LogCapture.h"
#include "PCom_Com_Device.h"
#include "PCom_Com_Port.h"
#include "PCom_Core.h"

#include <QSerialPort>
#include <QSerialPortInfo>
#include <QSignalSpy>
#include <QtTest>

// The property model shared by every port, exercised on the serial port,
// which needs no peer as long as it stays closed.
class tst_PropertyModel : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void newPortState();
    void equalWriteIsSilent();
    void changingWriteTracesAppliesAndAnnounces();
    void readOnlyAndUnknownNames();
    void failedOpenLeavesPortUnlocked();
    void closeOnClosedPort();
    void supportsHandler();
    void instancesAndDevice();

private:
    PCom_Core *m_core = nullptr;
    Plugin_Com_Device *m_device = nullptr;
    PCom_Com_Port *m_port = nullptr;
};

void tst_PropertyModel::init()
{
    m_core = new PCom_Core;
    m_device = m_core->createDevice(nullptr, QStringLiteral("com"));
    m_port = static_cast<PCom_Com_Port *>(m_device->createPort());
}

void tst_PropertyModel::cleanup()
{
    m_device->deletePort(m_port);
    m_core->deleteDevice(m_device);
    delete m_core;
}

void tst_PropertyModel::newPortState()
{
    QCOMPARE(m_port->getTavlinProperty("plugin"), QVariant(QStringLiteral("PCom_Core::com")));
    QCOMPARE(m_port->getTavlinProperty("interface"), QVariant(QStringLiteral("COM")));
    QCOMPARE(m_port->getTavlinProperty("device"), QVariant(QString()));
    QCOMPARE(m_port->getTavlinProperty("connect"), QVariant(false));
    QCOMPARE(m_port->getTavlinProperty("baudrate").toInt(), QSerialPort().baudRate());
    QCOMPARE(m_port->defaultText(), QStringLiteral("COM."));
    QVERIFY(m_port->isPluginPort());
    QVERIFY(!m_port->usesFrameIds());

    QStringList names;
    for (TavlinProperty *p : m_port->tavlinProperties())
        names << p->name();
    QCOMPARE(names, (QStringList{"plugin", "interface", "device", "baudrate", "connect"}));

    QStringList rates;
    for (qint32 rate : QSerialPortInfo::standardBaudRates())
        rates << QString::number(rate);
    QCOMPARE(m_port->tavlinProperty("baudrate")->options(), rates);
    QCOMPARE(m_port->tavlinProperty("device")->options(), m_device->availablePorts());

    QCOMPARE(m_port->tavlinProperty("plugin")->isWritable(), false);
    QCOMPARE(m_port->tavlinProperty("interface")->isWritable(), false);
    QCOMPARE(m_port->tavlinProperty("device")->isWritable(), true);
    QCOMPARE(m_port->tavlinProperty("baudrate")->isWritable(), true);
    QCOMPARE(m_port->tavlinProperty("connect")->isWritable(), true);

    const TavlinProperty *connect = m_port->tavlinProperty("connect");
    QCOMPARE(connect->defaultValue(), QStringLiteral("false"));
    QCOMPARE(connect->description, QStringLiteral("Open / close the port"));
    QCOMPARE(connect->inputType(), TavlinProperty::Boolean);
    QVERIFY(connect->isVisible() && !connect->isValidated() && connect->isStored());
    QVERIFY(m_port->tavlinProperty("interface")->isSupported(Version(QStringLiteral("2.10"))));
    QVERIFY(!m_port->tavlinProperty("interface")->isSupported(Version(QStringLiteral("2.20"))));
    QVERIFY(!m_port->tavlinProperty("plugin")->isSupported(Version(QStringLiteral("2.10"))));
}

void tst_PropertyModel::equalWriteIsSilent()
{
    LogCapture log;
    QSignalSpy changed(m_port, &AbstractTreeItem::dataChanged);
    const int rate = m_port->getTavlinProperty("baudrate").toInt();
    // A text holding the same number compares equal.
    QCOMPARE(m_port->setTavlinProperty("baudrate", QString::number(rate)), QVariant(QString::number(rate)));
    QCOMPARE(m_port->setTavlinProperty("connect", false), QVariant(false));
    QCOMPARE(m_port->setTavlinProperty("device", QString()), QVariant(QString()));
    QCOMPARE(changed.count(), 0);
    QVERIFY(log.texts().isEmpty());
}

void tst_PropertyModel::changingWriteTracesAppliesAndAnnounces()
{
    LogCapture log;
    QSignalSpy changed(m_port, &AbstractTreeItem::dataChanged);

    QCOMPARE(m_port->setTavlinProperty("baudrate", QStringLiteral("115200")), QVariant(115200));
    QCOMPARE(changed.count(), 1);
    QCOMPARE(log.deviceTexts(KrLog_Interface::Trace),
             QStringList{"Plugin_Com_Port()::setTavlinProperty(baudrate, 115200) "});

    log.clear();
    QCOMPARE(m_port->setTavlinProperty("device", QStringLiteral("ttyX9")), QVariant(QStringLiteral("ttyX9")));
    QCOMPARE(m_port->setTavlinProperty("baudrate", 9600), QVariant(9600));
    // The trace names the port as it was before the change.
    QCOMPARE(log.deviceTexts(KrLog_Interface::Trace),
             (QStringList{"Plugin_Com_Port()::setTavlinProperty(device, ttyX9) ",
                          "Plugin_Com_Port(ttyX9)::setTavlinProperty(baudrate, 9600) "}));
    QCOMPARE(m_port->defaultText(), QStringLiteral("COM.ttyX9"));
    QCOMPARE(changed.count(), 3);

    // Not a number: applied as 0.
    QCOMPARE(m_port->setTavlinProperty("baudrate", QStringLiteral("fast")).toInt(), 0);
}

void tst_PropertyModel::readOnlyAndUnknownNames()
{
    LogCapture log;
    QSignalSpy changed(m_port, &AbstractTreeItem::dataChanged);

    QCOMPARE(m_port->setTavlinProperty("plugin", QStringLiteral("other")), QVariant(QStringLiteral("PCom_Core::com")));
    QCOMPARE(m_port->setTavlinProperty("interface", QStringLiteral("USB")), QVariant(QStringLiteral("COM")));
    QCOMPARE(changed.count(), 2);
    QCOMPARE(log.deviceTexts().size(), 2);
    QCOMPARE(log.deviceTexts().first(), QStringLiteral("Plugin_Com_Port()::setTavlinProperty(plugin, other) "));

    QVERIFY(!m_port->getTavlinProperty("Device").isValid());
    QVERIFY(!m_port->getTavlinProperty(QString()).isValid());
    QVERIFY(!m_port->setTavlinProperty("parity", QStringLiteral("even")).isValid());
    QCOMPARE(changed.count(), 3);
}

void tst_PropertyModel::failedOpenLeavesPortUnlocked()
{
    LogCapture log;
    QSignalSpy changed(m_port, &AbstractTreeItem::dataChanged);
    QCOMPARE(m_port->setTavlinProperty("connect", true), QVariant(false));
    QCOMPARE(log.texts(), QStringList{"Plugin_Com_Port()::setTavlinProperty(connect, true) "});
    QCOMPARE(changed.count(), 1);
    QVERIFY(m_port->tavlinProperty("device")->isWritable());
    QVERIFY(m_port->tavlinProperty("baudrate")->isWritable());

    QVERIFY(!m_port->open(Plugin_Com_Port::ReadWrite));
    QVERIFY(!m_port->open({}));
    QCOMPARE(changed.count(), 3);
    QVERIFY(!m_port->opened());
}

void tst_PropertyModel::closeOnClosedPort()
{
    LogCapture log;
    QSignalSpy changed(m_port, &AbstractTreeItem::dataChanged);
    m_port->tavlinProperty("device")->setWritable(false);
    m_port->close();
    QCOMPARE(changed.count(), 1);
    QVERIFY(log.texts().isEmpty());
    // Nothing closed, so the locks were not refreshed either.
    QVERIFY(!m_port->tavlinProperty("device")->isWritable());
}

void tst_PropertyModel::supportsHandler()
{
    QVERIFY(m_port->supportsHandler(QStringLiteral("dataMessageHandler")));
    QVERIFY(!m_port->supportsHandler(QStringLiteral("DataMessageHandler")));
    QVERIFY(!m_port->supportsHandler(QStringLiteral("datamessagehandler")));
    QVERIFY(!m_port->supportsHandler(QString()));
}

void tst_PropertyModel::instancesAndDevice()
{
    QScopedPointer<AbstractTreeItem> copy(m_port->createInstance());
    auto *other = qobject_cast<PCom_Com_Port *>(copy.data());
    QVERIFY(other);
    QCOMPARE(other->device(), m_device);
    QVERIFY(other != m_port);

    m_port->setTavlinProperty("device", QStringLiteral("ttyA"));
    QCOMPARE(other->getTavlinProperty("device"), QVariant(QString()));

    m_device->deletePort(nullptr);
    QCOMPARE(m_device->getDocPath(), QStringLiteral(":/PCom_Core/com"));
    QCOMPARE(m_device->getIconPath(), QStringLiteral(":/PCom_Core/com/images/toolIcon.png"));
    QCOMPARE(m_device->getDocBriefPath(), QStringLiteral(":/PCom_Core/com/help/brief.html"));
    QCOMPARE(m_device->getDocMainPath(), QStringLiteral(":/PCom_Core/com/help/main.html"));
}

QTEST_GUILESS_MAIN(tst_PropertyModel)
#include "tst_propertymodel.moc"
