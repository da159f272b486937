#include "tests/support/LogCapture.h"
#include "serial/PCom_Com_Device.h"
#include "serial/PCom_Com_Port.h"

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
    void writes();
    void openAndCloseWithoutLine();

private:
    PCom_Com_Device m_device{nullptr, nullptr};
    PCom_Com_Port *m_port = nullptr;
};

void tst_PropertyModel::init()
{
    m_port = static_cast<PCom_Com_Port *>(m_device.createPort());
}

void tst_PropertyModel::cleanup()
{
    m_device.deletePort(m_port);
}


void tst_PropertyModel::writes()
{
    LogCapture log;
    QSignalSpy changed(m_port, &AbstractTreeItem::dataChanged);

    // Equal values, also a text holding the same number, change nothing.
    const QString rate = m_port->getTavlinProperty("baudrate").toString();
    QCOMPARE(m_port->setTavlinProperty("baudrate", rate), QVariant(rate));
    QCOMPARE(m_port->setTavlinProperty("connect", false), QVariant(false));
    QVERIFY(log.texts().isEmpty() && changed.isEmpty());

    // A change is traced naming the port as it was, applied, announced and read back.
    QCOMPARE(m_port->setTavlinProperty("baudrate", QStringLiteral("115200")), QVariant(115200));
    QCOMPARE(m_port->setTavlinProperty("device", QStringLiteral("ttyX9")), QVariant(QStringLiteral("ttyX9")));
    QCOMPARE(m_port->setTavlinProperty("baudrate", 9600), QVariant(9600));
    QCOMPARE(log.deviceTexts(KrLog_Interface::Trace),
             (QStringList{"Plugin_Com_Port()::setTavlinProperty(baudrate, 115200) ",
                          "Plugin_Com_Port()::setTavlinProperty(device, ttyX9) ",
                          "Plugin_Com_Port(ttyX9)::setTavlinProperty(baudrate, 9600) "}));
    QCOMPARE(log.texts().size(), 3);
    QCOMPARE(m_port->defaultText(), QStringLiteral("COM.ttyX9"));
    QCOMPARE(changed.count(), 3);
    QVERIFY(m_port->supportsHandler(QStringLiteral("dataMessageHandler")) && !m_port->usesFrameIds());
    // A new instance of the same kind on the same device, with state of its own.
    QScopedPointer<AbstractTreeItem> copy(m_port->createInstance());
    auto *other = qobject_cast<PCom_Com_Port *>(copy.data());
    QVERIFY(other && other != m_port && other->device() == &m_device);
    QCOMPARE(other->getTavlinProperty("device"), QVariant(QString()));
    // Not a number: applied as 0.
    QCOMPARE(m_port->setTavlinProperty("baudrate", QStringLiteral("fast")).toInt(), 0);

    // Read-only and unknown names: traced and announced, nothing altered.
    log.clear();
    changed.clear();
    QCOMPARE(m_port->setTavlinProperty("plugin", QStringLiteral("other")), QVariant(QStringLiteral("PCom_Core::com")));
    QVERIFY(!m_port->setTavlinProperty("parity", QStringLiteral("even")).isValid());
    QCOMPARE(log.texts(), (QStringList{"Plugin_Com_Port(ttyX9)::setTavlinProperty(plugin, other) ",
                                       "Plugin_Com_Port(ttyX9)::setTavlinProperty(parity, even) "}));
    QCOMPARE(changed.count(), 2);
    QVERIFY(!m_port->getTavlinProperty("Device").isValid());
}

void tst_PropertyModel::openAndCloseWithoutLine()
{
    LogCapture log;
    QSignalSpy changed(m_port, &AbstractTreeItem::dataChanged);
    QCOMPARE(m_port->setTavlinProperty("connect", true), QVariant(false));
    QCOMPARE(log.texts(), QStringList{"Plugin_Com_Port()::setTavlinProperty(connect, true) "});
    QVERIFY(!m_port->open(Plugin_Com_Port::ReadWrite));
    QVERIFY(!m_port->open({}));
    QCOMPARE(changed.count(), 3);
    QVERIFY(!m_port->opened());
    QVERIFY(m_port->tavlinProperty("device")->isWritable());

    // close() announces, but with nothing closed the locks are not refreshed.
    m_port->tavlinProperty("device")->setWritable(false);
    m_port->close();
    QCOMPARE(changed.count(), 4);
    QVERIFY(!m_port->tavlinProperty("device")->isWritable());
    QCOMPARE(log.texts().size(), 1);
}

QTEST_GUILESS_MAIN(tst_PropertyModel)
#include "tst_propertymodel.moc"
