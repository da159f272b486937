#include "tests/support/NetClientTestUtil.h"
#include "serial/PCom_Com_Device.h"
#include "serial/PCom_Com_Port.h"
#include "core/PCom_SerialLine.h"
#include "tests/support/PseudoTerminal.h"

#include <QtTest>

// The serial port: the property model that every port shares, on a port
// that stays closed, then bytes end to end against a pseudo-terminal pair.
class tst_Serial : public QObject
{
    Q_OBJECT
private slots:
    void propertyModel();
    void bytesAndLocks();

private:
    PCom_Com_Device m_device{nullptr, nullptr};
};

void tst_Serial::propertyModel()
{
    QScopedPointer<PCom_Com_Port> port(static_cast<PCom_Com_Port *>(m_device.createPort()));
    LogCapture log;
    QSignalSpy changed(port.data(), &AbstractTreeItem::dataChanged);

    // Equal values, also a text holding the same number, change nothing.
    const QString rate = port->getTavlinProperty("baudrate").toString();
    QCOMPARE(port->setTavlinProperty("baudrate", rate), QVariant(rate));
    QCOMPARE(port->setTavlinProperty("connect", false), QVariant(false));
    QVERIFY(log.texts().isEmpty() && changed.isEmpty());

    // Without a line, an open fails, and so does "connect", traced.
    QCOMPARE(port->setTavlinProperty("connect", true), QVariant(false));
    QCOMPARE(log.texts(), QStringList{"Plugin_Com_Port()::setTavlinProperty(connect, true) "});
    QVERIFY(!port->open(Plugin_Com_Port::ReadWrite) && !port->open({}));
    QCOMPARE(changed.count(), 3);
    QVERIFY(!port->opened() && port->tavlinProperty("device")->isWritable());
    // close() announces, but with nothing closed the locks are not refreshed.
    port->tavlinProperty("device")->setWritable(false);
    port->close();
    QVERIFY(changed.count() == 4 && !port->tavlinProperty("device")->isWritable());

    // Every other write is traced naming the port as it was, and announced:
    // applied and read back, a number that is no number applied as 0;
    // read-only and unknown names altered nothing.
    log.clear();
    changed.clear();
    const struct {
        const char *name;
        QVariant value, result;
        const char *portName;
    } writes[] = {{"baudrate", "115200", 115200, ""},  {"device", "ttyX9", "ttyX9", ""},
                  {"baudrate", 9600, 9600, "ttyX9"},   {"baudrate", "fast", 0, "ttyX9"},
                  {"plugin", "other", "PCom_Core::com", "ttyX9"}, {"parity", "even", QVariant(), "ttyX9"}};
    QStringList traced;
    for (const auto &write : writes) {
        QCOMPARE(port->setTavlinProperty(write.name, write.value), write.result);
        traced << QStringLiteral("Plugin_Com_Port(%1)::setTavlinProperty(%2, %3) ")
                      .arg(write.portName, write.name, write.value.toString());
    }
    QCOMPARE(log.deviceTexts(KrLog_Interface::Trace), traced);
    QCOMPARE(log.texts(), traced);
    QCOMPARE(changed.count(), int(std::size(writes)));
    QCOMPARE(port->defaultText(), QStringLiteral("COM.ttyX9"));
    QVERIFY(port->supportsHandler(QStringLiteral("dataMessageHandler")) && !port->usesFrameIds());
    QVERIFY(!port->getTavlinProperty("Device").isValid());

    // A new instance of the same kind on the same device, with state of its own.
    QScopedPointer<AbstractTreeItem> copy(port->createInstance());
    auto *other = qobject_cast<PCom_Com_Port *>(copy.data());
    QVERIFY(other && other != port.data() && other->device() == &m_device);
    QCOMPARE(other->getTavlinProperty("device"), QVariant(QString()));
}

void tst_Serial::bytesAndLocks()
{
    PseudoTerminal pty;
    QVERIFY(pty.isValid());
    QScopedPointer<PCom_Com_Port> port(NetClientTestUtil::configured(
        static_cast<PCom_Com_Port *>(m_device.createPort()), {{"device", pty.slavePath()}, {"baudrate", 115200}}));
    LogCapture log;
    // A record that the host appended is locked and unlocked with the port's own.
    port->appendProperty(new TavlinProperty("note", TavlinProperty::FreeText, true, QString(), false, true));

    // Open: the records stay locked but "connect"; a direct open is refused
    // by the line.
    QCOMPARE(port->setTavlinProperty("connect", true), QVariant(true));
    QVERIFY(!port->open(Plugin_Com_Port::ReadWrite) && port->opened());
    QCOMPARE(NetClientTestUtil::writable(*port), QStringList{"connect"});

    const QByteArray out("hello\x00\xff world", 13);
    QCOMPARE(port->writeRawData(out.constData(), out.size()), out.size());
    QCOMPARE(pty.readMaster(out.size()), out);
    // Read in pieces; a read that finds nothing answers -1.
    QVERIFY(pty.writeMaster("from the line\r\n"));
    QByteArray got;
    QTRY_COMPARE((got += NetClientTestUtil::readChunks(*port, 5)), QByteArray("from the line\r\n"));
    // The port applies a write of a locked name; keeping it away is the host's part.
    QCOMPARE(port->setTavlinProperty("baudrate", 9600), QVariant(9600));

    // A pseudo-terminal keeps 8 data bits and no parity but two stop bits:
    // what the line reads back is what is in force.
    auto *settings = port->linkStatus()->face<PCom_SerialLine>();
    QString why;
    QVERIFY(!settings->setParity("odd", &why) && why.contains("odd refused") && settings->parity() == "none");
    QVERIFY(!settings->setParity("mark", &why) && !settings->setParity("space", &why) && settings->parity() == "none");
    QVERIFY(!settings->setDataBits(5, &why) && settings->dataBits() == 8);
    QVERIFY(settings->setStopBits("2", &why) && settings->stopBits() == "2");
    QVERIFY(settings->setFlowControl("rtscts", &why) && settings->flowControl() == "rtscts");

    // A link to the line leads to the same lock, whose holder is named.
    QTemporaryDir dir;
    const QString link = dir.filePath("ttyLink");
    QVERIFY(QFile::link(pty.slavePath(), link));
    QScopedPointer<PCom_Com_Port> second(NetClientTestUtil::configured(
        static_cast<PCom_Com_Port *>(m_device.createPort()), {{"device", link}}));
    QVERIFY(!second->open(Plugin_Com_Port::ReadWrite));
    QCOMPARE(second->getTavlinProperty("device"), QVariant(link));
    auto *line = second->linkStatus()->face<PCom_SerialLine>();
    QCOMPARE(line->lockHolder(), QCoreApplication::applicationPid());

    QCOMPARE(port->setTavlinProperty("connect", false), QVariant(false));
    QVERIFY(!port->opened() && line->lockHolder() == 0);
    QCOMPARE(NetClientTestUtil::writable(*port), (QStringList{"device", "baudrate", "connect", "note"}));

    // Writes to a closed line fail and are logged.
    log.clear();
    QCOMPARE(port->writeRawData("abc", 3), -1);
    QCOMPARE(log.deviceTexts(KrLog_Interface::Error), QStringList{"PCom_Com_Port: 3 byte could not be send"});
}

QTEST_GUILESS_MAIN(tst_Serial)
#include "tst_serial.moc"
