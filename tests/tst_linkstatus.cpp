// The link-status companion of a serial port: what a host that knows it
// learns when the line goes away. (The socket ports' companions are tested
// with their ports.)
#include "core/PCom_SerialLine.h"
#include "serial/PCom_Com_Device.h"
#include "serial/PCom_Com_Port.h"
#include "tests/support/LogCapture.h"
#include "tests/support/NetClientTestUtil.h"
#include "tests/support/PseudoTerminal.h"

#include <QtTest>

class tst_LinkStatus : public QObject
{
    Q_OBJECT
private slots:
    void serialLineGone();
};

// A line whose other end goes away stays open in the host's view, silently,
// until the host closes it; it stops reading, so that the dead line does not
// keep the event loop awake, and the companion tells the loss once.
void tst_LinkStatus::serialLineGone()
{
    auto *pty = new PseudoTerminal;
    QVERIFY(pty->isValid());
    PCom_Com_Device device(nullptr, nullptr);
    auto *port = NetClientTestUtil::configured(static_cast<PCom_Com_Port *>(device.createPort()),
                                               {{"device", pty->slavePath()}, {"baudrate", 115200}});
    port->setParent(&device);
    PCom_LinkStatus *status = port->linkStatus();
    auto *line = status->face<PCom_SerialLine>();
    QVERIFY(line && port->open(Plugin_Com_Port::ReadWrite));
    QVERIFY(line->setStopBits("2") && line->setFlowControl("rtscts"));
    QCOMPARE(line->stopBits() + line->flowControl(), QStringLiteral("2rtscts"));

    QSignalSpy lost(status, &PCom_LinkStatus::linkLost);
    QSignalSpy changed(port, &AbstractTreeItem::dataChanged);
    QSignalSpy wakeUps(QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::awake);
    LogCapture log;
    delete pty;
    QVERIFY(lost.wait(5000));
    QCOMPARE(status->linkLoss(), PCom_LinkStatus::LossKind::Failed);
    QVERIFY(status->linkLostReason().startsWith(port->getTavlinProperty("device").toString() + ": "));
    QCOMPARE(lost.first().at(0).toString(), status->linkLostReason());
    wakeUps.clear();
    QVERIFY(!lost.wait(300));
    QVERIFY2(wakeUps.count() < 20, qPrintable(QString::number(wakeUps.count())));
    QVERIFY(port->opened() && changed.isEmpty() && log.texts().isEmpty());
    QCOMPARE(port->getTavlinProperty("connect"), QVariant(true));

    port->close();
    QVERIFY(!port->opened() && changed.count() == 1 && log.texts().isEmpty());
}

QTEST_GUILESS_MAIN(tst_LinkStatus)
#include "tst_linkstatus.moc"
