#include "tests/stress/FlatRun.h"
#include "tests/stress/LogCounter.h"
#include "canbus/PCom_CanBus_Device.h"
#include "plugin/PCom_Core.h"
#include "host/Plugin_Com_Port.h"
#include "tests/stress/StressReport.h"
#include "tests/stress/StressScale.h"
#include "host/Version.h"

#include <QtTest>

// Thousands of ports and devices of every kind created and deleted:
// descriptors, live Qt objects and resident memory stay flat after a
// warm-up.
class tst_StressLifecycle : public QObject
{
    Q_OBJECT
private slots:
    void portsCreatedAndDeleted();
    void devicesCreatedAndDeleted();
};

void tst_StressLifecycle::portsCreatedAndDeleted()
{
    PCom_Core core;
    QList<Plugin_Com_Device *> devices;
    core.createDevices(devices);
    QVERIFY(!devices.isEmpty());
    for (Plugin_Com_Device *device : devices) {
        if (auto *can = dynamic_cast<PCom_CanBus_Device *>(device))
            can->setCanPlugin(QStringLiteral("virtualcan"));
    }
    LogCounter log;
    runFlat(QStringLiteral("ports created and deleted, every kind"), [&](int i) {
        for (Plugin_Com_Device *device : devices) {
            Plugin_Com_Port *port = device->createPort();
            if (!port)
                return false;
            // A value set, and a close of a port that never opened.
            port->setTavlinProperty(QStringLiteral("baudrate"), 9600 + i);
            port->setTavlinProperty(QStringLiteral("port"), i);
            port->close();
            device->deletePort(port);
        }
        return true;
    });
    for (Plugin_Com_Device *device : devices)
        core.deleteDevice(device);
    QCOMPARE(log.deviceCount(KrLog_Interface::Error), 0);
    stressReport(QStringLiteral("leaks: %1 kinds of port created and deleted").arg(devices.size()));
}

void tst_StressLifecycle::devicesCreatedAndDeleted()
{
    PCom_Core core;
    QList<Plugin_Com_Device *> all;
    core.createDevices(all);
    QStringList keys;
    for (Plugin_Com_Device *device : all) {
        keys.append(device->getDocPath().section(QLatin1Char('/'), -1));
        core.deleteDevice(device);
    }
    keys << QString() << QStringLiteral("noSuchKey");
    LogCounter log;
    runFlat(QStringLiteral("devices created and deleted, every type key"), [&](int i) {
        QList<Plugin_Com_Device *> devices;
        core.createDevices(devices);
        for (const QString &key : keys) {
            Plugin_Com_Device *device = core.createDevice(nullptr, key);
            if (!device != (key == QLatin1String("noSuchKey")))
                return false;
            if (device)
                devices.append(device);
        }
        // Listing the machine's ports and interfaces asks the system, which
        // is slow; every tenth cycle does it, and every hundredth also builds
        // the documentation, which makes and drops a port of its own.
        for (Plugin_Com_Device *device : devices) {
            if (i % 10 == 0)
                device->availablePorts();
            if (i % 100 == 0 && device->getChildPropertyDoc(Version(QStringLiteral("2.20"))).isEmpty())
                return false;
            core.deleteDevice(device);
        }
        return true;
    });
    QCOMPARE(log.deviceCount(KrLog_Interface::Error), 0);
    stressReport(QStringLiteral("leaks: devices of the type keys %1 created and deleted").arg(keys.join(QLatin1Char(','))));
}

QTEST_GUILESS_MAIN(tst_StressLifecycle)
#include "tst_stress_lifecycle.moc"
