#include "tests/support/NetClientTestUtil.h"
#include "serial/PCom_Com_Device.h"
#include "serial/PCom_Com_Port.h"
#include "tests/support/PseudoTerminal.h"

#include <QtTest>

// The serial port end to end against a pseudo-terminal pair.
class tst_Serial : public QObject
{
    Q_OBJECT
private slots:
    void bytesLocksAndFailures();
};

static PCom_Com_Port *newPort(PCom_Com_Device &device, const QString &path)
{
    return NetClientTestUtil::configured(static_cast<PCom_Com_Port *>(device.createPort()),
                                         {{"device", path}, {"baudrate", 115200}});
}

void tst_Serial::bytesLocksAndFailures()
{
    PseudoTerminal pty;
    QVERIFY(pty.isValid());
    PCom_Com_Device device(nullptr, nullptr);
    QScopedPointer<PCom_Com_Port> port(newPort(device, pty.slavePath()));
    QSignalSpy changed(port.data(), &AbstractTreeItem::dataChanged);
    LogCapture log;
    // A record that the host appended is locked and unlocked with the port's own.
    port->appendProperty(new TavlinProperty("note", TavlinProperty::FreeText, true, QString(), false, true));

    QCOMPARE(port->setTavlinProperty("connect", true), QVariant(true));
    QCOMPARE(changed.count(), 1);
    // Already open: "connect" compares equal, a direct open is refused by the
    // line, and the records stay locked but "connect".
    log.clear();
    QCOMPARE(port->setTavlinProperty("connect", true), QVariant(true));
    QVERIFY(log.texts().isEmpty());
    QVERIFY(!port->open(Plugin_Com_Port::ReadWrite) && port->opened());
    QCOMPARE(NetClientTestUtil::writable(*port), QStringList{"connect"});

    char empty[8];
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
    // The port applies a write of a locked name; keeping it away is the host's part.
    QCOMPARE(port->setTavlinProperty("baudrate", 9600), QVariant(9600));

    QCOMPARE(port->setTavlinProperty("connect", false), QVariant(false));
    QVERIFY(!port->opened());
    QCOMPARE(NetClientTestUtil::writable(*port), (QStringList{"device", "baudrate", "connect", "note"}));

    // Writes to a line opened for reading only, or closed, fail and are logged.
    log.clear();
    QVERIFY(port->open(Plugin_Com_Port::Read));
    QCOMPARE(port->writeByteStream("0123456789", 10), -1);
    port->close();
    QCOMPARE(port->writeRawData("abc", 3), -1);
    QCOMPARE(log.deviceTexts(KrLog_Interface::Error),
             (QStringList{"PCom_Com_Port: 10 byte could not be send", "PCom_Com_Port: 3 byte could not be send"}));

    // The line is held exclusively while open; deleting the port frees it.
    QVERIFY(port->open(Plugin_Com_Port::ReadWrite));
    QScopedPointer<PCom_Com_Port> second(newPort(device, pty.slavePath()));
    QVERIFY(!second->open(Plugin_Com_Port::ReadWrite));
    device.deletePort(port.take());
    QVERIFY(second->open(Plugin_Com_Port::ReadWrite));
}

QTEST_GUILESS_MAIN(tst_Serial)
#include "tst_serial.moc"
