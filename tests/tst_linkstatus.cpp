// The link-status companion, per port kind: what a host that knows it learns
// about the backlog, the loss of a link and the write direction.
#include "core/PCom_Port.h"
#include "core/PCom_SerialLine.h"
#include "core/PCom_ServedClients.h"
#include "plugin/PCom_Core.h"
#include "host/Plugin_Com_Device.h"
#include "tests/support/LogCapture.h"
#include "tests/support/LoopbackPeer.h"
#include "tests/support/NetClientTestUtil.h"
#include "tests/support/PseudoTerminal.h"

#include <QtTest>

using State = PCom_LinkStatus::LinkState;
using Loss = PCom_LinkStatus::LossKind;

class tst_LinkStatus : public QObject
{
    Q_OBJECT
private slots:
    // A port left open would log into the next case.
    void cleanup() { qDeleteAll(m_devices); m_devices.clear(); }
    void tcpClientBacklogLossAndHalfClose();
    void tcpServerBacklogAndReadBound();
    void serialLineGone();

private:
    using Settings = std::initializer_list<std::pair<const char *, QVariant>>;
    PCom_Port *newPort(const QString &key, Settings settings);
    PCom_Core m_core;
    QList<Plugin_Com_Device *> m_devices;
};

PCom_Port *tst_LinkStatus::newPort(const QString &key, Settings settings)
{
    m_devices.append(m_core.createDevice(nullptr, key));
    auto *port = NetClientTestUtil::configured(dynamic_cast<PCom_Port *>(m_devices.last()->createPort()), settings);
    port->setParent(m_devices.last());
    return port;
}

void tst_LinkStatus::tcpClientBacklogLossAndHalfClose()
{
    QTcpServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost));
    PCom_Port *port = newPort("tcpClient", {{"address", "127.0.0.1"}, {"port", server.serverPort()}});
    PCom_LinkStatus *status = port->linkStatus();
    QVERIFY(status->linkState() == State::Closed && status->canCloseWrite() && !status->closeWrite());
    QVERIFY(port->open(Plugin_Com_Port::ReadWrite));
    QTRY_VERIFY(status->linkState() == State::Open && server.hasPendingConnections());
    QScopedPointer<QTcpSocket> peer(server.nextPendingConnection());

    // What the port took waits as backlog until it has left, announced by
    // bytesWritten() in full.
    QSignalSpy written(status, &PCom_LinkStatus::bytesWritten);
    const QByteArray block(256 * 1024, 'x');
    QCOMPARE(port->writeRawData(block.constData(), block.size()), block.size());
    QCOMPARE(status->bytesToWrite(), qint64(block.size()));
    QTRY_COMPARE(status->bytesToWrite(), qint64(0));
    qint64 sum = 0;
    for (const QList<QVariant> &args : written)
        sum += args.at(0).toLongLong();
    QCOMPARE(sum, qint64(block.size()));

    // Half-close: the peer reads everything, then the end of stream (a Qt
    // peer then closes its side, which the port learns, once, as the peer's end).
    QSignalSpy finished(status, &PCom_LinkStatus::writeFinished);
    QSignalSpy lost(status, &PCom_LinkStatus::linkLost);
    QVERIFY(port->writeRawData("tail", 4) == 4 && status->closeWrite());
    QByteArray got;
    QTRY_VERIFY((got += peer->readAll(), peer->state() == QAbstractSocket::UnconnectedState));
    QVERIFY(got.size() == block.size() + 4 && got.endsWith("tail"));
    QTRY_COMPARE(lost.count(), 1);
    QCOMPARE(finished.count(), 1);
    QVERIFY(status->linkLoss() == Loss::PeerClosed && !status->linkLostReason().isEmpty());
    QCOMPARE(status->linkState(), State::Closed);
}

void tst_LinkStatus::tcpServerBacklogAndReadBound()
{
    const quint16 serverPort = LoopbackPeer::freePort();
    PCom_Port *port = newPort("tcpServer", {{"address", "127.0.0.1"}, {"port", serverPort}});
    PCom_LinkStatus *status = port->linkStatus();
    auto *served = status->face<PCom_ServedClients>();
    QVERIFY(served && !status->canCloseWrite());
    status->setReadBufferSize(1024);
    QVERIFY(port->open(Plugin_Com_Port::ReadWrite));
    QTcpSocket a, b;
    for (QTcpSocket *client : {&a, &b})
        client->connectToHost(QHostAddress::LocalHost, serverPort);
    QTRY_COMPARE(served->clientCount(), 2);

    // The backlog is the sum over the clients.
    const QByteArray block(128 * 1024, 'y');
    port->writeRawData(block.constData(), block.size());
    QCOMPARE(status->bytesToWrite(), qint64(2 * block.size()));
    QTRY_COMPARE(status->bytesToWrite(), qint64(0));

    // No more than the bound is read ahead of the host.
    QSignalSpy ready(port, &Plugin_Com_Port::readyRead);
    a.write(QByteArray(64 * 1024, 'z'));
    QVERIFY(ready.wait(5000));
    QVector<char> buffer(64 * 1024);
    const int first = port->readRawData(buffer.data(), buffer.size());
    QVERIFY2(first > 0 && first <= 1024, qPrintable(QString::number(first)));
}

// A line whose other end goes away stays open in the host's view, silently,
// until the host closes it; it stops reading, so that the dead line does not
// keep the event loop awake, and the companion tells the loss once.
void tst_LinkStatus::serialLineGone()
{
    auto *pty = new PseudoTerminal;
    QVERIFY(pty->isValid());
    PCom_Port *port = newPort("com", {{"device", pty->slavePath()}, {"baudrate", 115200}});
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
    QCOMPARE(status->linkLoss(), Loss::Failed);
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
