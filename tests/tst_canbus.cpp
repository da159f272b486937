#include "LogCapture.h"
#include "PCom_CanBus_Device.h"
#include "PCom_CanBus_Port.h"

#include <QCanBus>
#include <QCanBusDevice>
#include <QSignalSpy>
#include <QTcpServer>
#include <QtTest>

// CAN frames end to end between two ports over Qt's "virtualcan" back-end.
// Its devices meet on a relay server that the first device of a process
// starts on the port named in the interface URL; each test process picks a
// free loopback port of its own, so parallel runs never share a bus.
class tst_CanBus : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void framesBetweenPorts();
    void openWhileOpen();

private:
    QString interfaceUrl(int channel) const;
    quint16 m_relayPort = 0;
};

void tst_CanBus::initTestCase()
{
    QTcpServer probe;
    QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
    m_relayPort = probe.serverPort();
    probe.close();
    QVERIFY(QCanBus::instance()->plugins().contains(QStringLiteral("virtualcan")));
}

QString tst_CanBus::interfaceUrl(int channel) const
{
    return QStringLiteral("tcp://127.0.0.1:%1/can%2").arg(m_relayPort).arg(channel);
}

static PCom_CanBus_Port *newPort(PCom_CanBus_Device &device, const QString &interfaceName)
{
    auto *port = static_cast<PCom_CanBus_Port *>(device.createPort());
    port->setTavlinProperty(QStringLiteral("device"), interfaceName);
    return port;
}

// One frame from the port, waiting for it for a bounded time.
static int receive(PCom_CanBus_Port *port, QByteArray *payload, unsigned int *frameId, int maxLen = 64)
{
    QSignalSpy ready(port, &Plugin_Com_Port::readyRead);
    char buffer[64];
    for (int round = 0; round < 30; ++round) {
        const int count = port->readRawData(buffer, maxLen, frameId);
        if (count >= 0) {
            *payload = QByteArray(buffer, count);
            return count;
        }
        ready.wait(100);
    }
    return -1;
}

// virtualcan connects in the background, and the relay drops frames for a
// receiver it has not registered yet. Numbered probe frames go out until the
// receiver has read the last one sent: from then on both ports are on the bus
// and no probe is left in flight.
static bool waitForBus(PCom_CanBus_Port *from, PCom_CanBus_Port *to)
{
    const unsigned int probeId = 0x7FF;
    QSignalSpy ready(to, &Plugin_Com_Port::readyRead);
    int lastSent = -1;
    int lastRead = -2;
    for (char attempt = 0; attempt < 100; ++attempt) {
        if (from->writeRawData(&attempt, 1, probeId) == 1)
            lastSent = attempt;
        ready.wait(50);
        char byte;
        unsigned int id = 0;
        for (int frame = 0; frame < 200 && to->readRawData(&byte, 1, &id) == 1; ++frame) {
            if (id == probeId)
                lastRead = byte;
        }
        if (lastRead == lastSent)
            return true;
    }
    return false;
}

void tst_CanBus::framesBetweenPorts()
{
    PCom_CanBus_Device device(nullptr, nullptr);
    QScopedPointer<PCom_CanBus_Port> first(newPort(device, interfaceUrl(0)));
    QScopedPointer<PCom_CanBus_Port> second(newPort(device, interfaceUrl(0)));
    first->setTavlinProperty("interface", QStringLiteral("virtualcan"));
    first->setTavlinProperty("baudrate", 500000);

    LogCapture log;
    QCOMPARE(first->setTavlinProperty("connect", true), QVariant(true));
    QVERIFY(second->open(Plugin_Com_Port::ReadWrite));
    // virtualcan keeps no bit rate, so the line names none.
    const QString connected = QStringLiteral("Plugin: virtualcan, connected to ") + interfaceUrl(0);
    QCOMPARE(log.deviceTexts(KrLog_Interface::Progress), (QStringList{connected, connected}));
    QVERIFY(log.deviceTexts(KrLog_Interface::Error).isEmpty());
    QVERIFY(!first->tavlinProperty("device")->isWritable());
    QVERIFY(!first->tavlinProperty("interface")->isWritable());
    QVERIFY(!first->tavlinProperty("baudrate")->isWritable());
    QVERIFY(first->tavlinProperty("connect")->isWritable());
    QVERIFY(waitForBus(first.data(), second.data()));

    QByteArray payload;
    unsigned int frameId = 0;

    const QByteArray eight("\x01\x02\x03\x04\x05\x06\x07\x00", 8);
    QCOMPARE(first->writeRawData(eight.constData(), 8, 0x123), 8);
    QCOMPARE(receive(second.data(), &payload, &frameId), 8);
    QCOMPARE(payload, eight);
    QCOMPARE(frameId, 0x123u);

    // The other way, through the byte-stream names, with a 29-bit identifier.
    QCOMPARE(second->writeByteStream("abc", 3, 0x1ABCDEF), 3);
    QSignalSpy firstReady(first.data(), &Plugin_Com_Port::readyRead);
    QVERIFY(firstReady.wait(3000));
    char buffer[64];
    QCOMPARE(first->readByteStream(buffer, sizeof buffer, &frameId), 3);
    QCOMPARE(QByteArray(buffer, 3), QByteArray("abc"));
    QCOMPARE(frameId, 0x1ABCDEFu);

    // No payload: a frame all the same, read as 0 bytes with its identifier.
    QCOMPARE(first->writeRawData("", 0, 0x55), 0);
    QCOMPARE(receive(second.data(), &payload, &frameId), 0);
    QCOMPARE(frameId, 0x55u);

    // Two waiting frames take two reads, in order.
    QSignalSpy secondReady(second.data(), &Plugin_Com_Port::readyRead);
    QCOMPARE(first->writeRawData("one", 3, 1), 3);
    QCOMPARE(first->writeRawData("two", 3, 2), 3);
    QTRY_COMPARE_WITH_TIMEOUT(secondReady.count(), 2, 3000);
    QCOMPARE(second->readRawData(buffer, sizeof buffer, &frameId), 3);
    QCOMPARE(QByteArray(buffer, 3), QByteArray("one"));
    QCOMPARE(frameId, 1u);
    QCOMPARE(second->readRawData(buffer, sizeof buffer, &frameId), 3);
    QCOMPARE(QByteArray(buffer, 3), QByteArray("two"));
    QCOMPARE(frameId, 2u);
    QCOMPARE(second->readRawData(buffer, sizeof buffer, &frameId), -1);

    // A short buffer takes the head of the payload; the rest is gone.
    QCOMPARE(first->writeRawData("12345678", 8, 0x42), 8);
    QCOMPARE(receive(second.data(), &payload, &frameId, 3), 3);
    QCOMPARE(payload, QByteArray("123"));
    QCOMPARE(frameId, 0x42u);
    QCOMPARE(second->readRawData(buffer, sizeof buffer, &frameId), -1);

    // No identifier wanted.
    QCOMPARE(first->writeRawData("x", 1, 0x43), 1);
    QVERIFY(secondReady.wait(3000));
    QCOMPARE(second->readRawData(buffer, sizeof buffer, nullptr), 1);
    QCOMPARE(buffer[0], 'x');

    // More than 8 bytes make a flexible-data-rate frame, which virtualcan
    // refuses unless its FD option is on: the raw write reports it, the byte
    // stream does not.
    log.clear();
    const QByteArray twelve(12, 'f');
    QCOMPARE(first->writeRawData(twelve.constData(), 12, 0x44), -1);
    QCOMPARE(first->writeByteStream(twelve.constData(), 12, 0x44), 12);
    QVERIFY(log.deviceTexts().isEmpty());

    // Flexible-data-rate frames from an FD-enabled peer arrive whole.
    QString error;
    QScopedPointer<QCanBusDevice> peer(QCanBus::instance()->createDevice(QStringLiteral("virtualcan"), interfaceUrl(0), &error));
    QVERIFY2(peer, qPrintable(error));
    peer->setConfigurationParameter(QCanBusDevice::CanFdKey, true);
    QVERIFY(peer->connectDevice());
    QTRY_COMPARE_WITH_TIMEOUT(peer->state(), QCanBusDevice::ConnectedState, 3000);
    QByteArray sixtyFour(64, '\0');
    for (int i = 0; i < 64; ++i)
        sixtyFour[i] = char(i);
    QCanBusFrame fdFrame(0x321, sixtyFour);
    QVERIFY(fdFrame.hasFlexibleDataRateFormat());
    QVERIFY(peer->writeFrame(fdFrame));
    QCOMPARE(receive(second.data(), &payload, &frameId), 64);
    QCOMPARE(payload, sixtyFour);
    QCOMPARE(frameId, 0x321u);
    peer->disconnectDevice();

    // Closed: unlocked, and no more frames either way.
    first->close();
    QCOMPARE(first->getTavlinProperty("connect"), QVariant(false));
    QVERIFY(first->tavlinProperty("device")->isWritable());
    QVERIFY(first->tavlinProperty("interface")->isWritable());
    QVERIFY(first->tavlinProperty("baudrate")->isWritable());
    QCOMPARE(first->writeRawData("z", 1, 1), -1);
    QCOMPARE(first->readRawData(buffer, sizeof buffer, &frameId), -1);
    QCOMPARE(second->setTavlinProperty("connect", false), QVariant(false));
    QVERIFY(!second->opened());
}

void tst_CanBus::openWhileOpen()
{
    PCom_CanBus_Device device(nullptr, nullptr);
    device.setCanPlugin(QStringLiteral("virtualcan"));
    QScopedPointer<PCom_CanBus_Port> first(newPort(device, interfaceUrl(1)));
    QScopedPointer<PCom_CanBus_Port> second(newPort(device, interfaceUrl(1)));
    QVERIFY(first->open(Plugin_Com_Port::ReadWrite));
    QVERIFY(second->open(Plugin_Com_Port::ReadWrite));
    QVERIFY(waitForBus(first.data(), second.data()));

    // A second open is refused and the link in use goes on undisturbed.
    LogCapture log;
    QSignalSpy changed(first.data(), &AbstractTreeItem::dataChanged);
    QVERIFY(!first->open(Plugin_Com_Port::ReadWrite));
    QCOMPARE(changed.count(), 1);
    QVERIFY(first->opened());
    QVERIFY(!first->tavlinProperty("device")->isWritable());
    QVERIFY(log.deviceTexts().isEmpty());
    // "connect" = true on an open port compares equal: silent.
    QCOMPARE(first->setTavlinProperty("connect", true), QVariant(true));
    QCOMPARE(changed.count(), 1);

    QCOMPARE(first->writeRawData("still", 5, 0x99), 5);
    QByteArray payload;
    unsigned int frameId = 0;
    QCOMPARE(receive(second.data(), &payload, &frameId), 5);
    QCOMPARE(payload, QByteArray("still"));
    QCOMPARE(frameId, 0x99u);
}

QTEST_GUILESS_MAIN(tst_CanBus)
#include "tst_canbus.moc"
