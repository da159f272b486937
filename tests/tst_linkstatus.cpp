// The link-status extension, per port kind: what a host that knows it learns
// about the backlog, the loss of a link and the write direction.
#include "core/PCom_LinkStatus.h"
#include "plugin/PCom_Core.h"
#include "host/Plugin_Com_Device.h"
#include "tests/support/LoopbackPeer.h"
#include "tests/support/NetClientTestUtil.h"
#include "tests/support/PseudoTerminal.h"

#include <QtTest>

using State = PCom_LinkStatus::LinkState;
using Loss = PCom_LinkStatus::LossKind;

class tst_LinkStatus : public QObject
{
    Q_OBJECT
public:
    ~tst_LinkStatus() override { qDeleteAll(m_devices); }
private slots:
    void tcpClientBacklogLossAndHalfClose();
    void tcpServerBacklogAndReadBound();
    void serialLineGone();

private:
    using Settings = std::initializer_list<std::pair<const char *, QVariant>>;
    Plugin_Com_Port *newPort(const QString &key, Settings settings);
    PCom_Core m_core;
    QList<Plugin_Com_Device *> m_devices;
};

Plugin_Com_Port *tst_LinkStatus::newPort(const QString &key, Settings settings)
{
    m_devices.append(m_core.createDevice(nullptr, key));
    Plugin_Com_Port *port = NetClientTestUtil::configured(m_devices.last()->createPort(), settings);
    port->setParent(m_devices.last());
    return port;
}

void tst_LinkStatus::tcpClientBacklogLossAndHalfClose()
{
    QTcpServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost));
    Plugin_Com_Port *port = newPort("tcpClient", {{"address", "127.0.0.1"}, {"port", server.serverPort()}});
    auto *status = qobject_cast<PCom_LinkStatus *>(port);
    QVERIFY(status);
    QCOMPARE(status->linkState(), State::Closed);
    QVERIFY(status->canCloseWrite() && !status->closeWrite());

    QVERIFY(port->open(Plugin_Com_Port::ReadWrite));
    QTRY_COMPARE(status->linkState(), State::Open);
    QTRY_VERIFY(server.hasPendingConnections());
    QScopedPointer<QTcpSocket> peer(server.nextPendingConnection());

    // What the port took waits as backlog until it has left, announced by
    // bytesWritten() in full.
    QSignalSpy written(port, SIGNAL(bytesWritten(qint64)));
    const QByteArray block(256 * 1024, 'x');
    QCOMPARE(port->writeRawData(block.constData(), block.size()), block.size());
    QCOMPARE(status->bytesToWrite(), qint64(block.size()));
    QTRY_COMPARE(status->bytesToWrite(), qint64(0));
    qint64 sum = 0;
    for (const QList<QVariant> &args : written)
        sum += args.at(0).toLongLong();
    QCOMPARE(sum, qint64(block.size()));

    // Half-close: the peer reads everything, then the end of stream (a Qt
    // peer then closes its side, which the port learns as the peer's end).
    QSignalSpy finished(port, SIGNAL(writeFinished()));
    QSignalSpy lost(port, SIGNAL(linkLost(QString)));
    QVERIFY(port->writeRawData("tail", 4) == 4);
    QVERIFY(status->closeWrite());
    QVERIFY(finished.count() == 1 || finished.wait(5000));
    QByteArray got;
    QTRY_VERIFY_WITH_TIMEOUT((got += peer->readAll(), peer->state() == QAbstractSocket::UnconnectedState), 5000);
    QCOMPARE(got.size(), block.size() + 4);
    QVERIFY(got.endsWith("tail"));
    QVERIFY(lost.count() == 1 || lost.wait(5000));
    QCOMPARE(status->linkLoss(), Loss::PeerClosed);
    QVERIFY(!status->linkLostReason().isEmpty());
    QCOMPARE(status->linkState(), State::Closed);
    QCOMPARE(lost.count(), 1);
}

void tst_LinkStatus::tcpServerBacklogAndReadBound()
{
    const quint16 serverPort = LoopbackPeer::freePort();
    Plugin_Com_Port *port = newPort("tcpServer", {{"address", "127.0.0.1"}, {"port", serverPort}});
    auto *status = qobject_cast<PCom_LinkStatus *>(port);
    QVERIFY(status && !status->canCloseWrite());
    status->setReadBufferSize(1024);
    QVERIFY(port->open(Plugin_Com_Port::ReadWrite));
    QTcpSocket a, b;
    for (QTcpSocket *client : {&a, &b}) {
        client->connectToHost(QHostAddress::LocalHost, serverPort);
        QVERIFY(client->waitForConnected(5000));
    }
    int clients = 0;
    QTRY_VERIFY((QMetaObject::invokeMethod(port, "clientCount", Q_RETURN_ARG(int, clients)), clients == 2));

    // The backlog is the sum over the clients.
    const QByteArray block(128 * 1024, 'y');
    port->writeRawData(block.constData(), block.size());
    QCOMPARE(status->bytesToWrite(), qint64(2 * block.size()));
    QTRY_COMPARE(status->bytesToWrite(), qint64(0));

    // No more than the bound is read ahead of the host.
    const QByteArray burst(64 * 1024, 'z');
    a.write(burst);
    QVERIFY(a.waitForBytesWritten(5000));
    QSignalSpy ready(port, SIGNAL(readyRead()));
    QVERIFY(ready.count() > 0 || ready.wait(5000));
    QVector<char> buffer(burst.size());
    const int first = port->readRawData(buffer.data(), buffer.size());
    QVERIFY2(first > 0 && first <= 1024, qPrintable(QString::number(first)));
}

// A line whose other end goes away is closed by the port and reported once,
// with the reason, instead of signalling readable for ever.
void tst_LinkStatus::serialLineGone()
{
    auto *pty = new PseudoTerminal;
    QVERIFY(pty->isValid());
    Plugin_Com_Port *port = newPort("com", {{"device", pty->slavePath()}, {"baudrate", 115200}});
    auto *status = qobject_cast<PCom_LinkStatus *>(port);
    QVERIFY(port->open(Plugin_Com_Port::ReadWrite));
    QCOMPARE(status->linkState(), State::Open);
    QVERIFY(port->setProperty("stopBits", "2"));
    QCOMPARE(port->property("stopBits").toString(), QStringLiteral("2"));
    QVERIFY(port->setProperty("flowControl", "rtscts"));
    QCOMPARE(port->property("flowControl").toString(), QStringLiteral("rtscts"));

    QSignalSpy lost(port, SIGNAL(linkLost(QString)));
    QSignalSpy changed(port, SIGNAL(dataChanged()));
    delete pty;
    QVERIFY(lost.wait(5000));
    QCOMPARE(status->linkLoss(), Loss::Failed);
    QVERIFY(!port->opened());
    QCOMPARE(port->getTavlinProperty("connect"), QVariant(false));
    QVERIFY(changed.count() >= 1);
    QVERIFY(!lost.wait(200));
}

QTEST_GUILESS_MAIN(tst_LinkStatus)
#include "tst_linkstatus.moc"
