#include "core/PCom_LinkStatus.h"
#include "tests/support/LoopbackPeer.h"
#include "tests/support/NetClientTestUtil.h"
#include "tcpclient/PCom_TcpClient_Device.h"
#include "tcpclient/PCom_TcpClient_Port.h"

#include <QNetworkProxy>
#include <QtTest>

using namespace NetClientTestUtil;

// The TCP client port against a QTcpServer on the loopback interface.
class tst_TcpClient : public QObject
{
    Q_OBJECT
private slots:
    void connectExchangeAndClose();
    void failedConnections_data();
    void failedConnections();
};

namespace {

const QStringList s_opening{"tcpClient: Session opened", "tcpClient: Connecting to host..."};
const QStringList s_closedWritable{"address", "port", "connect"};

PCom_TcpClient_Port *tcpPort(PCom_TcpClient_Device &device, const QString &address, quint16 port)
{
    return configured(static_cast<PCom_TcpClient_Port *>(device.createPort()),
                      {{"address", address}, {"port", port}});
}

} // namespace

void tst_TcpClient::connectExchangeAndClose()
{
    QTcpServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost, 0));
    PCom_TcpClient_Device device(nullptr, nullptr);
    QScopedPointer<PCom_TcpClient_Port> port(tcpPort(device, QStringLiteral("127.0.0.1"), server.serverPort()));
    QSignalSpy changed(port.data(), &AbstractTreeItem::dataChanged);
    LogCapture log;
    // Opens the port and waits, bounded, until the server took the
    // connection and the port reported it; the server's end, or null.
    const auto openConnected = [&]() -> QTcpSocket * {
        log.clear();
        const bool up = port->open(Plugin_Com_Port::ReadWrite) && QTest::qWaitFor([&] {
            return server.hasPendingConnections() && log.contains(QStringLiteral("tcpClient: Connected"));
        });
        return up ? server.nextPendingConnection() : nullptr;
    };
    QVERIFY(behavesClosed(*port, log));
    changed.clear();

    // No session is needed here, so the connection attempt starts inside the open call.
    QCOMPARE(port->setTavlinProperty("connect", true), QVariant(true));
    QCOMPARE(log.qtTexts(QtInfoMsg).mid(0, 2), s_opening);
    QCOMPARE(changed.count(), 1);
    QCOMPARE(writable(*port), QStringList{"connect"});

    QTRY_VERIFY(log.contains(QStringLiteral("tcpClient: Connected")));
    QCOMPARE(log.texts(), s_opening + QStringList({"tcpClient: Host found", "tcpClient: Connected"}));
    QCOMPARE(levels(log), (QList<int>{QtInfoMsg, QtInfoMsg, QtInfoMsg, QtInfoMsg}));
    QTRY_VERIFY(server.hasPendingConnections());
    QScopedPointer<QTcpSocket> peer(server.nextPendingConnection());

    // Open while open: refused and silent; the locks are not even refreshed.
    log.clear();
    port->tavlinProperty("address")->setWritable(true);
    QVERIFY(!port->open(Plugin_Com_Port::ReadWrite));
    QCOMPARE(writable(*port), QStringList({"address", "connect"}));
    port->tavlinProperty("address")->setWritable(false);
    // Stored while open, for the next open.
    QCOMPARE(port->setTavlinProperty("port", 1), QVariant(1));
    QVERIFY(port->opened());

    const QByteArray out("to the server\0\xff", 15);
    QCOMPARE(port->writeRawData(out.constData(), out.size()), out.size());
    QByteArray atServer;
    QTRY_COMPARE((atServer += peer->readAll()), out);

    QSignalSpy ready(port.data(), &Plugin_Com_Port::readyRead);
    const QByteArray in("from the server");
    peer->write(in);
    QByteArray atClient;
    char buf[64];
    for (int round = 0; round < 50 && atClient.size() < in.size(); ++round) {
        QVERIFY(waitReady(ready));
        int n;
        while ((n = port->readByteStream(buf, 4)) > 0)
            atClient.append(buf, n);
        QCOMPARE(n, -1);
    }
    QCOMPARE(atClient, in);
    QVERIFY(log.texts().isEmpty());

    changed.clear();
    QSignalSpy peerGone(peer.data(), &QTcpSocket::disconnected);
    QCOMPARE(port->setTavlinProperty("connect", false), QVariant(false));
    QCOMPARE(log.texts(), QStringList{"tcpClient: Disconnected"});
    QVERIFY(changed.count() >= 1);
    QCOMPARE(writable(*port), s_closedWritable);
    QVERIFY(peerGone.wait(5000));
    QCOMPARE(port->writeRawData("x", 1), 0);

    // A new open makes a new connection, which the server ends.
    port->setTavlinProperty("port", server.serverPort());
    peer.reset(openConnected());
    QVERIFY(peer);
    log.clear();
    changed.clear();
    peer->close();
    QTRY_COMPARE(port->getTavlinProperty("connect"), QVariant(false));
    QCOMPARE(log.texts(), (QStringList{"The server closed the connection.", "tcpClient: Disconnected"}));
    QCOMPARE(levels(log), (QList<int>{QtCriticalMsg, QtInfoMsg}));
    QVERIFY(changed.count() >= 1);
    QCOMPARE(writable(*port), s_closedWritable);

    // Deleting the connected port ends the connection, and its socket's last
    // signals reach nobody.
    peer.reset(openConnected());
    QVERIFY(peer);
    QSignalSpy gone(peer.data(), &QTcpSocket::disconnected);
    log.clear();
    device.deletePort(port.take());
    QVERIFY(gone.wait(5000));
    QVERIFY(log.texts().isEmpty());

    // A close during the host lookup leaves the socket to finish: "connect"
    // reads true (closing) until Qt is done; Qt may connect and close at once.
    // The port connects again afterwards.
    port.reset(tcpPort(device, QStringLiteral("localhost"), server.serverPort()));
    PCom_LinkStatus *status = port->linkStatus();
    QVERIFY(port->open(Plugin_Com_Port::ReadWrite));
    QCOMPARE(status->linkState(), PCom_LinkStatus::LinkState::Opening);
    QCOMPARE(port->setTavlinProperty(QStringLiteral("connect"), false), QVariant(true));
    QCOMPARE(status->linkState(), PCom_LinkStatus::LinkState::Closing);
    QTRY_VERIFY(!port->opened());
    QCOMPARE(log.qtTexts().last(), QStringLiteral("tcpClient: Disconnected"));
    QCOMPARE(writable(*port), s_closedWritable);
    QCOMPARE(status->linkLoss(), PCom_LinkStatus::LossKind::None);
    log.clear();
    QVERIFY(port->open(Plugin_Com_Port::ReadWrite));
    QTRY_VERIFY(log.contains(QStringLiteral("tcpClient: Connected")));
}

void tst_TcpClient::failedConnections_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<bool>("viaDeadProxy");
    QTest::addColumn<QStringList>("expected"); // after the opening lines, before "Disconnected"
    QTest::newRow("never configured") << QString() << false
                                      << QStringList{"The host was not found. Please check the host name and port "
                                                     "settings."};
    QTest::newRow("nobody listens") << QStringLiteral("127.0.0.1") << false
                                    << QStringList{"tcpClient: Host found",
                                                   "The connection was refused by the peer. Make sure the server is "
                                                   "running, and that the host name and port settings are correct."};
    // Other errors quote the socket: a SOCKS proxy on loopback that does not
    // answer. Loopback targets are never proxied, so the target is a
    // documentation address that no request reaches.
    QTest::newRow("other error") << QStringLiteral("192.0.2.1") << true
                                 << QStringList{"tcpClient: Host found",
                                                "The following error occurred: Connection to proxy refused."};
}

void tst_TcpClient::failedConnections()
{
    QFETCH(QString, address);
    QFETCH(bool, viaDeadProxy);
    QFETCH(QStringList, expected);

    // A loopback port on which nothing listens.
    const quint16 closed = LoopbackPeer::freePort();
    if (viaDeadProxy)
        QNetworkProxy::setApplicationProxy(QNetworkProxy(QNetworkProxy::Socks5Proxy, "127.0.0.1", closed));
    PCom_TcpClient_Device device(nullptr, nullptr);
    QScopedPointer<PCom_TcpClient_Port> port(tcpPort(device, address, address.isEmpty() ? 0 : closed));
    LogCapture log;
    QCOMPARE(port->setTavlinProperty("connect", true), QVariant(true));
    QTRY_COMPARE(port->getTavlinProperty("connect"), QVariant(false));
    QNetworkProxy::setApplicationProxy(QNetworkProxy::NoProxy);

    QCOMPARE(log.qtTexts(QtCriticalMsg), QStringList{expected.last()});
    QCOMPARE(log.texts(), s_opening + expected + QStringList{"tcpClient: Disconnected"});
    QCOMPARE(log.qtTexts(QtInfoMsg).size(), log.texts().size() - 1);
    QCOMPARE(writable(*port), s_closedWritable);
}

QTEST_GUILESS_MAIN(tst_TcpClient)
#include "tst_tcpclient.moc"
