#include "LogCapture.h"
#include "PCom_Com_Device.h"
#include "PCom_Com_Port.h"
#include "PseudoTerminal.h"

#include <QSignalSpy>
#include <QtTest>

// The serial port end to end against a pseudo-terminal pair.
class tst_Serial : public QObject
{
    Q_OBJECT
private slots:
    void bytesBothWays();
    void locksWhileOpen();
    void readOnlyWriteReportsLostBytes();
    void deletingOpenPortClosesLine();
};

static PCom_Com_Port *openPort(PCom_Com_Device &device, const QString &path)
{
    auto *port = static_cast<PCom_Com_Port *>(device.createPort());
    port->setTavlinProperty(QStringLiteral("device"), path);
    port->setTavlinProperty(QStringLiteral("baudrate"), 115200);
    return port;
}

void tst_Serial::bytesBothWays()
{
    PseudoTerminal pty;
    QVERIFY(pty.isValid());
    PCom_Com_Device device(nullptr, nullptr);
    QScopedPointer<PCom_Com_Port> port(openPort(device, pty.slavePath()));
    QCOMPARE(port->setTavlinProperty("connect", true), QVariant(true));

    char empty[8];
    QCOMPARE(port->readByteStream(empty, sizeof empty), -1);
    QCOMPARE(port->readRawData(empty, sizeof empty), -1);

    const QByteArray out("hello\x00\xff world", 13);
    QCOMPARE(port->writeRawData(out.constData(), out.size()), out.size());
    QCOMPARE(pty.readMaster(out.size()), out);

    QSignalSpy ready(port.data(), &Plugin_Com_Port::readyRead);
    const QByteArray in("from the line\r\n");
    QVERIFY(pty.writeMaster(in));
    QByteArray got;
    char buf[64];
    for (int round = 0; round < 50 && got.size() < in.size(); ++round) {
        if (ready.isEmpty())
            QVERIFY(ready.wait(2000));
        ready.clear();
        int n;
        while ((n = port->readRawData(buf, 5)) > 0)
            got.append(buf, n);
        QCOMPARE(n, -1);
    }
    QCOMPARE(got, in);

    QCOMPARE(port->setTavlinProperty("connect", false), QVariant(false));
    QVERIFY(!port->opened());
}

void tst_Serial::locksWhileOpen()
{
    PseudoTerminal pty;
    QVERIFY(pty.isValid());
    PCom_Com_Device device(nullptr, nullptr);
    QScopedPointer<PCom_Com_Port> port(openPort(device, pty.slavePath()));
    QSignalSpy changed(port.data(), &AbstractTreeItem::dataChanged);
    LogCapture log;

    QVERIFY(port->open(Plugin_Com_Port::ReadWrite));
    QCOMPARE(changed.count(), 1);
    QCOMPARE(port->getTavlinProperty("connect"), QVariant(true));
    QVERIFY(!port->tavlinProperty("device")->isWritable());
    QVERIFY(!port->tavlinProperty("baudrate")->isWritable());
    QVERIFY(!port->tavlinProperty("plugin")->isWritable());
    QVERIFY(!port->tavlinProperty("interface")->isWritable());
    QVERIFY(port->tavlinProperty("connect")->isWritable());

    // Already open: "connect" compares equal, a direct open is refused by
    // the line and the locks stay.
    QCOMPARE(port->setTavlinProperty("connect", true), QVariant(true));
    QVERIFY(log.texts().isEmpty());
    QVERIFY(!port->open(Plugin_Com_Port::ReadWrite));
    QVERIFY(port->opened());
    QVERIFY(!port->tavlinProperty("device")->isWritable());

    // The port applies a write of a locked name; keeping it away is the host's part.
    QCOMPARE(port->setTavlinProperty("baudrate", 9600), QVariant(9600));

    port->close();
    QVERIFY(!port->opened());
    QVERIFY(port->tavlinProperty("device")->isWritable());
    QVERIFY(port->tavlinProperty("baudrate")->isWritable());
    QVERIFY(!port->tavlinProperty("plugin")->isWritable());
    QVERIFY(!port->tavlinProperty("interface")->isWritable());
}

void tst_Serial::readOnlyWriteReportsLostBytes()
{
    PseudoTerminal pty;
    QVERIFY(pty.isValid());
    PCom_Com_Device device(nullptr, nullptr);
    QScopedPointer<PCom_Com_Port> port(openPort(device, pty.slavePath()));
    QVERIFY(port->open(Plugin_Com_Port::Read));

    LogCapture log;
    QCOMPARE(port->writeByteStream("0123456789", 10), -1);
    QCOMPARE(log.deviceTexts(KrLog_Interface::Error), QStringList{"PCom_Com_Port: 10 byte could not be send"});
    port->close();

    // Closed: the write fails the same way.
    log.clear();
    QCOMPARE(port->writeRawData("abc", 3), -1);
    QCOMPARE(log.deviceTexts(KrLog_Interface::Error), QStringList{"PCom_Com_Port: 3 byte could not be send"});
}

void tst_Serial::deletingOpenPortClosesLine()
{
    PseudoTerminal pty;
    QVERIFY(pty.isValid());
    PCom_Com_Device device(nullptr, nullptr);
    Plugin_Com_Port *first = openPort(device, pty.slavePath());
    QVERIFY(first->open(Plugin_Com_Port::ReadWrite));

    // The line is held exclusively while open.
    QScopedPointer<PCom_Com_Port> second(openPort(device, pty.slavePath()));
    QVERIFY(!second->open(Plugin_Com_Port::ReadWrite));

    device.deletePort(first);
    QVERIFY(second->open(Plugin_Com_Port::ReadWrite));
}

QTEST_GUILESS_MAIN(tst_Serial)
#include "tst_serial.moc"
