#include "tests/support/LogCapture.h"
#include "canbus/PCom_CanBus_Device.h"
#include "canbus/PCom_CanBus_Port.h"

#include <QSignalSpy>
#include <QTcpServer>
#include <QtTest>

// CAN frames end to end between two ports over Qt's "virtualcan" back-end.
class tst_CanBus : public QObject
{
    Q_OBJECT
private slots:
    void framesBetweenPorts();
};

// One frame from the port, waiting for it for a bounded time.
static QByteArray receive(PCom_CanBus_Port *port, unsigned int *frameId)
{
    QSignalSpy ready(port, &Plugin_Com_Port::readyRead);
    char buffer[64];
    for (int round = 0; round < 30; ++round) {
        const int count = port->readByteStream(buffer, sizeof buffer, frameId);
        if (count >= 0)
            return QByteArray(buffer, count);
        ready.wait(100);
    }
    return "nothing received";
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
    // The devices meet on a relay server that the first device of a process
    // starts on the port named in the interface URL; a free loopback port of
    // this process's own keeps parallel runs off each other's bus.
    QTcpServer probe;
    QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
    const QString url = QStringLiteral("tcp://127.0.0.1:%1/can0").arg(probe.serverPort());
    probe.close();

    PCom_CanBus_Device device(nullptr, nullptr);
    QScopedPointer<PCom_CanBus_Port> first(static_cast<PCom_CanBus_Port *>(device.createPort()));
    QScopedPointer<PCom_CanBus_Port> second(static_cast<PCom_CanBus_Port *>(device.createPort()));
    first->setTavlinProperty("interface", QStringLiteral("virtualcan"));
    first->setTavlinProperty("baudrate", 500000);
    for (Plugin_Com_Port *port : {first.data(), second.data()})
        port->setTavlinProperty("device", url);

    LogCapture log;
    QCOMPARE(first->setTavlinProperty("connect", true), QVariant(true));
    QVERIFY(second->open(Plugin_Com_Port::ReadWrite));
    // virtualcan keeps no bit rate, so the line names none.
    const QString connected = QStringLiteral("Plugin: virtualcan, connected to ") + url;
    QCOMPARE(log.deviceTexts(KrLog_Interface::Progress), (QStringList{connected, connected}));
    QVERIFY(log.deviceTexts(KrLog_Interface::Error).isEmpty());
    for (const TavlinProperty *p : first->tavlinProperties())
        QCOMPARE(p->isWritable(), p->name() == QLatin1String("connect"));
    QVERIFY(waitForBus(first.data(), second.data()));

    unsigned int frameId = 0;
    const QByteArray eight("\x01\x02\x03\x04\x05\x06\x07\x00", 8);
    QCOMPARE(first->writeRawData(eight.constData(), 8, 0x123), 8);
    QCOMPARE(receive(second.data(), &frameId), eight);
    QCOMPARE(frameId, 0x123u);
    // The other way, through the byte-stream names, with a 29-bit identifier.
    QCOMPARE(second->writeByteStream("abc", 3, 0x1ABCDEF), 3);
    QCOMPARE(receive(first.data(), &frameId), QByteArray("abc"));
    QCOMPARE(frameId, 0x1ABCDEFu);

    // Whole frames, reached by name as a host that knows the port does: the
    // extended format and a remote request arrive as they were sent.
    QCanBusFrame extended(0x123, QByteArray("\x11", 1));
    extended.setExtendedFrameFormat(true);
    QCanBusFrame remote(0x456, QByteArray());
    remote.setFrameType(QCanBusFrame::RemoteRequestFrame);
    for (const QCanBusFrame &frame : {extended, remote}) {
        bool sent = false;
        QVERIFY(QMetaObject::invokeMethod(second.data(), "writeFrame", Q_RETURN_ARG(bool, sent),
                                          Q_ARG(QCanBusFrame, frame)));
        QVERIFY(sent);
        QCanBusFrame got(QCanBusFrame::InvalidFrame);
        const auto take = [&] {
            QCanBusFrame next(QCanBusFrame::InvalidFrame);
            QMetaObject::invokeMethod(first.data(), "readFrame", Q_RETURN_ARG(QCanBusFrame, next));
            if (next.isValid())
                got = next;
            return got.isValid();
        };
        QTRY_VERIFY(take());
        QCOMPARE(got.frameId(), frame.frameId());
        QCOMPARE(got.hasExtendedFrameFormat(), frame.hasExtendedFrameFormat());
        QCOMPARE(got.frameType(), frame.frameType());
        QCOMPARE(got.payload(), frame.payload());
    }

    // Closed: unlocked again.
    first->close();
    QCOMPARE(first->getTavlinProperty("connect"), QVariant(false));
    for (const TavlinProperty *p : first->tavlinProperties())
        QCOMPARE(p->isWritable(), p->name() != QLatin1String("plugin"));
    QCOMPARE(second->setTavlinProperty("connect", false), QVariant(false));
    QVERIFY(!second->opened());
}

QTEST_GUILESS_MAIN(tst_CanBus)
#include "tst_canbus.moc"
