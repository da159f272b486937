#include "host/ComInterface.h"
#include "plugin/PCom_Core.h"
#include "host/Plugin_Com_Device.h"

#include <QtTest>

class tst_Factory : public QObject
{
    Q_OBJECT
private slots:
    void createDeviceByKey_data();
    void createDeviceByKey();
    void createDevicesAppends();
};

void tst_Factory::createDeviceByKey_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("name");
    QTest::newRow("com") << "com" << "COM port";
    QTest::newRow("canBus") << "canBus" << "CAN bus";
    QTest::newRow("tcpServer") << "tcpServer" << "Ethernet TCP server";
    QTest::newRow("tcpClient") << "tcpClient" << "Ethernet TCP client";
    QTest::newRow("udpClient") << "udpClient" << "Ethernet UDP client";
    QTest::newRow("empty") << "" << "COM port";
    QTest::newRow("case") << "COM" << "";
    QTest::newRow("case client") << "tcpclient" << "";
    QTest::newRow("leading blank") << " com" << "";
    QTest::newRow("trailing blank") << "com " << "";
    QTest::newRow("unknown") << "modbus" << "";
}

void tst_Factory::createDeviceByKey()
{
    QFETCH(QString, key);
    QFETCH(QString, name);
    PCom_Core core;
    ComInterface com;
    Plugin_Com_Device *device = core.createDevice(&com, key);
    QCOMPARE(device ? device->name() : QString(), name);
    QVERIFY(!device || device->comInterface() == &com);
    QVERIFY(!device || device->plugin() == static_cast<PluginInterface_Com *>(&core));
    core.deleteDevice(device);
}

void tst_Factory::createDevicesAppends()
{
    PCom_Core core;
    ComInterface com;
    QList<Plugin_Com_Device *> devices;
    devices << core.createDevice(&com, QStringLiteral("com")) << core.createDevice(&com, QString());
    core.createDevices(devices);

    QStringList names;
    for (Plugin_Com_Device *d : devices) {
        names << d->name();
        QCOMPARE(d->comInterface(), names.size() <= 2 ? &com : nullptr);
    }
    QCOMPARE(names, (QStringList{"COM port", "COM port", "COM port", "CAN bus", "Ethernet TCP server",
                                 "Ethernet TCP client", "Ethernet UDP client"}));
    qDeleteAll(devices);
}

QTEST_GUILESS_MAIN(tst_Factory)
#include "tst_factory.moc"
