#include "ComInterface.h"
#include "PCom_Core.h"
#include "Plugin_Com_Device.h"

#include <QtTest>

class FakeCom : public ComInterface
{
};

class tst_Factory : public QObject
{
    Q_OBJECT
private slots:
    void createDeviceByKey_data();
    void createDeviceByKey();
    void createDevicesAppends();
    void deleteDeviceIgnoresNull();
    void pluginName();
};

void tst_Factory::createDeviceByKey_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("name");
    QTest::newRow("com") << "com" << "COM port";
    QTest::newRow("canBus") << "canBus" << "CAN bus";
    QTest::newRow("empty") << "" << "COM port";
    QTest::newRow("case") << "COM" << "";
    QTest::newRow("case client") << "tcpclient" << "";
    QTest::newRow("leading blank") << " com" << "";
    QTest::newRow("trailing blank") << "com " << "";
    QTest::newRow("unknown") << "modbus" << "";
    QTest::newRow("tcpServer") << "tcpServer" << "Ethernet TCP server";
    QTest::newRow("case server") << "tcpserver" << "";
    QTest::newRow("tcpClient") << "tcpClient" << "Ethernet TCP client";
    QTest::newRow("udpClient") << "udpClient" << "Ethernet UDP client";
    QTest::newRow("case udp") << "UdpClient" << "";
}

void tst_Factory::createDeviceByKey()
{
    QFETCH(QString, key);
    QFETCH(QString, name);
    PCom_Core core;
    FakeCom com;
    Plugin_Com_Device *device = core.createDevice(&com, key);
    if (name.isEmpty()) {
        QVERIFY(!device);
        return;
    }
    QVERIFY(device);
    QCOMPARE(device->name(), name);
    QCOMPARE(device->comInterface(), &com);
    QCOMPARE(device->plugin(), static_cast<PluginInterface_Com *>(&core));
    core.deleteDevice(device);
}

void tst_Factory::createDevicesAppends()
{
    PCom_Core core;
    FakeCom com;
    QList<Plugin_Com_Device *> devices;
    devices << core.createDevice(&com, QStringLiteral("com")) << core.createDevice(&com, QString());
    core.createDevices(devices);

    QStringList names;
    for (Plugin_Com_Device *d : devices)
        names << d->name();
    QCOMPARE(names, (QStringList{"COM port", "COM port", "COM port", "CAN bus", "Ethernet TCP server",
                                 "Ethernet TCP client", "Ethernet UDP client"}));
    for (int i = 2; i < devices.size(); ++i)
        QCOMPARE(devices.at(i)->comInterface(), nullptr);
    QCOMPARE(devices.at(0)->comInterface(), &com);
    qDeleteAll(devices);
}

void tst_Factory::deleteDeviceIgnoresNull()
{
    PCom_Core core;
    core.deleteDevice(nullptr);
    QCOMPARE(core.getPluginName(), QStringLiteral("PCom_Core"));
}

void tst_Factory::pluginName()
{
    PCom_Core core;
    QCOMPARE(core.getPluginName(), QStringLiteral("PCom_Core"));
    QCOMPARE(QString::fromLatin1(core.metaObject()->className()), QStringLiteral("PCom_Core"));
}

QTEST_GUILESS_MAIN(tst_Factory)
#include "tst_factory.moc"
