#include "core/PCom_Port.h"
#include "tests/support/LoopbackPeer.h"
#include "tests/support/NetClientTestUtil.h"
#include "tcpclient/PCom_TcpClient_Device.h"
#include "udpclient/PCom_UdpClient_Device.h"
#include "core/PCom_DatagramRefusals.h"

#include <QNetworkDatagram>
#include <QNetworkProxy>
#include <QUdpSocket>
#include <QtTest>

#include <sys/socket.h>

using namespace NetClientTestUtil;

// The TCP and UDP client ports against peers on the loopback interface:
// what both do alike, then what is each one's own.
class tst_SocketClient : public QObject
{
    Q_OBJECT
private slots:
    void openAndClose_data();
    void openAndClose();
    void tcpExchange();
    void tcpFailedConnections();
    void udpDatagrams();

private:
    Plugin_Com_Port *tcpPort(const QString &address, quint16 port)
    {
        return configured(m_tcp.createPort(), {{"address", address}, {"port", port}});
    }
    PCom_TcpClient_Device m_tcp{nullptr, nullptr};
    PCom_UdpClient_Device m_udp{nullptr, nullptr};
};

namespace {

const QStringList s_udpClosedWritable{"bind-address", "bind-port", "address", "port", "connect"};

} // namespace

void tst_SocketClient::openAndClose_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QStringList>("linked"); // the lines after "Connecting to host..."
    QTest::addColumn<QStringList>("closedWritable");
    QTest::addColumn<bool>("refreshesLocks"); // on an open refused while open
    QTest::newRow("tcpClient") << "tcpClient" << QStringList{"Host found", "Connected"}
                               << QStringList{"address", "port", "connect"} << false;
    QTest::newRow("udpClient") << "udpClient" << QStringList{"Bind to IP 127.0.0.1 port 0"} << s_udpClosedWritable
                               << true;
}

// Closed, a port does nothing, and close() only announces a change,
// silently. No session is needed here, so the link starts
// inside the open, which locks the endpoint and logs each step; a second
// open is refused silently. The close logs and unlocks.
void tst_SocketClient::openAndClose()
{
    QFETCH(QString, key);
    QFETCH(QStringList, linked);
    QFETCH(QStringList, closedWritable);
    QFETCH(bool, refreshesLocks);
    QTcpServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost));
    // A TCP port has no "bind-address" and leaves it alone.
    QScopedPointer<Plugin_Com_Port> port(
        configured(key == QLatin1String("tcpClient") ? m_tcp.createPort() : m_udp.createPort(),
                   {{"bind-address", "127.0.0.1"}, {"address", "127.0.0.1"}, {"port", server.serverPort()}}));
    LogCapture log;
    QSignalSpy changed(port.data(), &AbstractTreeItem::dataChanged);
    char buf[8];
    QVERIFY(port->writeRawData("abc", 3) == 0 && port->readRawData(buf, sizeof buf) == -1);
    port->close();
    QVERIFY(changed.count() == 1 && log.texts().isEmpty());

    changed.clear();
    QCOMPARE(port->setTavlinProperty("connect", true), QVariant(true));
    QCOMPARE(changed.count(), 1);
    QCOMPARE(writable(*port), QStringList{"connect"});
    QStringList expected = QStringList{"Session opened", "Connecting to host..."} + linked;
    expected.replaceInStrings(QRegularExpression("^"), key + ": ");
    QTRY_COMPARE(log.qtTexts(QtInfoMsg), expected);
    QCOMPARE(log.texts(), expected);

    log.clear();
    port->tavlinProperty("address")->setWritable(true);
    QVERIFY(!port->open(Plugin_Com_Port::ReadWrite) && port->opened() && log.texts().isEmpty());
    QCOMPARE(port->tavlinProperty("address")->isWritable(), !refreshesLocks);

    QCOMPARE(port->setTavlinProperty("connect", false), QVariant(false));
    QCOMPARE(log.qtTexts(QtInfoMsg), QStringList{key + ": Disconnected"});
    QCOMPARE(log.texts().size(), 1);
    QCOMPARE(writable(*port), closedWritable);
    QCOMPARE(port->writeRawData("x", 1), 0);
}

void tst_SocketClient::tcpExchange()
{
    QTcpServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost, 0));
    QScopedPointer<Plugin_Com_Port> port(tcpPort(QStringLiteral("127.0.0.1"), server.serverPort()));
    LogCapture log;
    // Opens the port and waits, bounded, until the server took the
    // connection and the port reported it; the server's end, or null.
    const auto openConnected = [&]() -> QTcpSocket * {
        const bool up = port->open(Plugin_Com_Port::ReadWrite) && QTest::qWaitFor([&] {
            return server.hasPendingConnections() && log.contains(QStringLiteral("tcpClient: Connected"));
        });
        log.clear();
        return up ? server.nextPendingConnection() : nullptr;
    };
    QScopedPointer<QTcpSocket> peer(openConnected());
    QVERIFY(peer);

    // What the port took waits as backlog until it has left, announced by
    // bytesWritten() in full. Read in pieces; a read that finds nothing
    // answers -1.
    PCom_LinkStatus *status = static_cast<PCom_Port *>(port.data())->linkStatus();
    QSignalSpy written(status, &PCom_LinkStatus::bytesWritten);
    const QByteArray block = QByteArray("to the server\0\xff", 15).repeated(16 * 1024);
    QCOMPARE(port->writeRawData(block.constData(), block.size()), block.size());
    QCOMPARE(status->bytesToWrite(), qint64(block.size()));
    QTRY_COMPARE(status->bytesToWrite(), qint64(0));
    qint64 sum = 0;
    for (const QList<QVariant> &args : written)
        sum += args.at(0).toLongLong();
    QCOMPARE(sum, qint64(block.size()));
    peer->write("from the server");
    QByteArray got;
    QTRY_COMPARE((got += readChunks(*port, 4)), QByteArray("from the server"));
    QVERIFY(log.texts().isEmpty());

    // Half-close: the server reads everything, then the end of stream. A Qt
    // peer then closes its side, which the port tells and announces, and
    // reports once as the peer's end.
    QSignalSpy finished(status, &PCom_LinkStatus::writeFinished);
    QSignalSpy lost(status, &PCom_LinkStatus::linkLost);
    QSignalSpy changed(port.data(), &AbstractTreeItem::dataChanged);
    QVERIFY(status->canCloseWrite() && status->closeWrite());
    got.clear();
    QTRY_VERIFY((got += peer->readAll(), peer->state() == QAbstractSocket::UnconnectedState));
    QVERIFY(got == block);
    QTRY_VERIFY(!port->opened());
    QCOMPARE(log.qtTexts(QtCriticalMsg), QStringList{"The server closed the connection."});
    QCOMPARE(log.texts(), (QStringList{"The server closed the connection.", "tcpClient: Disconnected"}));
    QVERIFY(changed.count() >= 1 && finished.count() == 1 && lost.count() == 1);
    QVERIFY(status->linkLoss() == PCom_LinkStatus::LossKind::PeerClosed && !status->linkLostReason().isEmpty());
    QVERIFY(status->linkState() == PCom_LinkStatus::LinkState::Closed && !status->closeWrite());

    // Deleting the connected port ends the connection, and its socket's last
    // signals reach nobody.
    peer.reset(openConnected());
    QVERIFY(peer);
    QSignalSpy gone(peer.data(), &QTcpSocket::disconnected);
    m_tcp.deletePort(port.take());
    QVERIFY(gone.wait(5000));
    QVERIFY(log.texts().isEmpty());

    // A close during the host lookup leaves the socket to finish: "connect"
    // reads true (closing) until Qt is done; Qt may connect and close at once.
    // The port connects again afterwards.
    port.reset(tcpPort(QStringLiteral("localhost"), server.serverPort()));
    status = static_cast<PCom_Port *>(port.data())->linkStatus();
    QVERIFY(port->open(Plugin_Com_Port::ReadWrite));
    QCOMPARE(status->linkState(), PCom_LinkStatus::LinkState::Opening);
    QCOMPARE(port->setTavlinProperty(QStringLiteral("connect"), false), QVariant(true));
    QCOMPARE(status->linkState(), PCom_LinkStatus::LinkState::Closing);
    QTRY_VERIFY(!port->opened());
    QCOMPARE(log.qtTexts().last(), QStringLiteral("tcpClient: Disconnected"));
    QCOMPARE(status->linkLoss(), PCom_LinkStatus::LossKind::None);

    // A peer that resets the connection (a close with linger 0) ends it in
    // Qt's eyes as an orderly close would; the port tells it as a failure.
    QVERIFY(openConnected());
    QTcpServer resetting;
    QVERIFY(resetting.listen(QHostAddress::LocalHost, 0));
    port.reset(tcpPort(QStringLiteral("127.0.0.1"), resetting.serverPort()));
    status = static_cast<PCom_Port *>(port.data())->linkStatus();
    QVERIFY(port->open(Plugin_Com_Port::ReadWrite));
    QTRY_VERIFY(resetting.hasPendingConnections() && status->linkState() == PCom_LinkStatus::LinkState::Open);
    peer.reset(resetting.nextPendingConnection());
    peer->setParent(nullptr);
    const linger hard{1, 0};
    QVERIFY(::setsockopt(int(peer->socketDescriptor()), SOL_SOCKET, SO_LINGER, &hard, sizeof hard) == 0);
    peer->abort();
    QTRY_VERIFY(!port->opened());
    QCOMPARE(status->linkLoss(), PCom_LinkStatus::LossKind::Failed);
    QVERIFY2(status->linkLostReason().startsWith("Connection reset by peer"), qPrintable(status->linkLostReason()));
}

// Each error is told in a line of its own before the port closes.
void tst_SocketClient::tcpFailedConnections()
{
    // A loopback port on which nothing listens.
    const quint16 closed = LoopbackPeer::freePort();
    const QString refused = QStringLiteral("The connection was refused by the peer. Make sure the server is running, "
                                           "and that the host name and port settings are correct.");
    // Other errors quote the socket: a SOCKS proxy on loopback that does not
    // answer. Loopback targets are never proxied, so the target is a
    // documentation address that no request reaches.
    const struct {
        QString address;
        bool viaDeadProxy;
        QStringList expected; // after the opening lines, before "Disconnected"
    } cases[] = {
        {QString(), false, {"The host was not found. Please check the host name and port settings."}},
        {"127.0.0.1", false, {"tcpClient: Host found", refused}},
        {"192.0.2.1", true, {"tcpClient: Host found", "The following error occurred: Connection to proxy refused."}}};
    for (const auto &c : cases) {
        if (c.viaDeadProxy)
            QNetworkProxy::setApplicationProxy(QNetworkProxy(QNetworkProxy::Socks5Proxy, "127.0.0.1", closed));
        QScopedPointer<Plugin_Com_Port> port(tcpPort(c.address, c.address.isEmpty() ? 0 : closed));
        LogCapture log;
        QCOMPARE(port->setTavlinProperty("connect", true), QVariant(true));
        QTRY_COMPARE(port->getTavlinProperty("connect"), QVariant(false));
        QNetworkProxy::setApplicationProxy(QNetworkProxy::NoProxy);
        QCOMPARE(log.qtTexts(QtCriticalMsg), QStringList{c.expected.last()});
        QCOMPARE(log.texts(), QStringList({"tcpClient: Session opened", "tcpClient: Connecting to host..."}) +
                                  c.expected + QStringList{"tcpClient: Disconnected"});
        QCOMPARE(writable(*port), (QStringList{"address", "port", "connect"}));
    }
}

void tst_SocketClient::udpDatagrams()
{
    // A peer that owns its port exclusively, so that a port of ours cannot
    // share it.
    QUdpSocket peer, other;
    QVERIFY(peer.bind(QHostAddress::LocalHost, 0, QAbstractSocket::DontShareAddress));
    QVERIFY(other.bind(QHostAddress(QHostAddress::LocalHost)));
    // Never configured but the destination: binds to no particular IPv4
    // address and port 0. The port number is kept in 16 bits (the validator,
    // not the port, limits edited input).
    QScopedPointer<Plugin_Com_Port> port(
        configured(m_udp.createPort(), {{"address", "127.0.0.1"}, {"port", 65536 + peer.localPort()}}));
    QCOMPARE(port->getTavlinProperty("port"), QVariant(int(peer.localPort())));
    LogCapture log;
    QVERIFY(port->open(Plugin_Com_Port::ReadWrite));
    QCOMPARE(log.texts().last(), QStringLiteral("udpClient: Bind to IP  port 0"));
    log.clear();

    // One write, one datagram.
    QCOMPARE(port->writeRawData("0123456789", 10), 10);
    QTRY_VERIFY(peer.hasPendingDatagrams());
    const QNetworkDatagram out = peer.receiveDatagram();
    QCOMPARE(out.data(), QByteArray("0123456789"));

    // One datagram a read. A datagram larger than the buffer: the rest is
    // lost with it. An empty one is consumed and reads as nothing.
    const auto send = [&](const QByteArray &data) {
        return peer.writeDatagram(data, out.senderAddress(), quint16(out.senderPort())) == data.size();
    };
    char buf[128];
    const auto read = [&](int max) {
        const int n = port->readRawData(buf, max);
        return n > 0 ? QByteArray(buf, n) : QByteArray::number(n);
    };
    // The next read that finds a datagram with bytes, waiting for it, bounded.
    const auto next = [&](int max) {
        QByteArray got;
        return QTest::qWaitFor([&] { return (got = read(max)) != "-1"; }, 5000) ? got : QByteArray("nothing");
    };
    QCOMPARE(read(128), QByteArray("-1"));
    QByteArray big;
    for (int i = 0; i < 100; ++i)
        big += char(i);
    QVERIFY(send(big) && send(QByteArray()) && send("first") && send("second!"));
    QCOMPARE(next(60), big.left(60));
    QCOMPARE(log.qtTexts(QtWarningMsg), QStringList{"UDP client: packet dropped in received datagram: 40 "});
    QCOMPARE(next(128), QByteArray("first"));
    QCOMPARE(next(128), QByteArray("second!"));
    QCOMPARE(log.texts().size(), 1);

    // A destination locked for the host's editor is yet stored, and used by
    // the next write.
    QCOMPARE(port->setTavlinProperty("port", other.localPort()), QVariant(int(other.localPort())));
    QCOMPARE(port->writeRawData("other", 5), 5);
    QTRY_VERIFY(other.hasPendingDatagrams());
    QCOMPARE(other.receiveDatagram().data(), QByteArray("other"));
    QVERIFY(!peer.hasPendingDatagrams());

    // Refusals, watched: each datagram to where nothing listens is reported,
    // none fails a later send or closes the port, and the destination is
    // reached once it listens.
    auto *refusals = static_cast<PCom_Port *>(port.data())->linkStatus()->face<PCom_DatagramRefusals>();
    QVERIFY(refusals);
    QSignalSpy refused(refusals, &PCom_DatagramRefusals::refused);
    refusals->setWatching(true);
    const quint16 away = other.localPort();
    other.close();
    for (int i = 0; i < 3; ++i)
        QCOMPARE(port->writeRawData("lost", 4), 4);
    QTRY_COMPARE(refused.count(), 3);
    QCOMPARE(refused.first(), (QVariantList{QStringLiteral("127.0.0.1:%1").arg(away), "Connection refused"}));
    QVERIFY(other.bind(QHostAddress::LocalHost, away));
    QCOMPARE(port->writeRawData("back", 4), 4);
    QTRY_VERIFY(other.hasPendingDatagrams());
    QCOMPARE(other.receiveDatagram().data(), QByteArray("back"));
    QVERIFY(port->opened() && refused.count() == 3 && refusals->refusals() == 3);

    // A new address is used at once too: an IPv6 one cannot be reached from
    // this IPv4 socket, so the send fails, which ends the port inside the
    // write; the whole datagram is reported as not sent.
    log.clear();
    QCOMPARE(port->setTavlinProperty("address", QStringLiteral("::1")), QVariant(QStringLiteral("::1")));
    QCOMPARE(port->writeRawData("six", 3), -1);
    QCOMPARE(log.texts(), (QStringList{"The following error occurred: Unable to send a message.",
                                       "udpClient: Disconnected", "PCom_UdpClient_Port: 3 byte could not be send"}));
    QCOMPARE(log.qtTexts(QtInfoMsg), QStringList{"udpClient: Disconnected"});
    QVERIFY(!port->opened() && !other.hasPendingDatagrams());

    // A bind port that another socket holds: the bind fails inside the open
    // call, which still reports success, and the error ends the port.
    configured(port.data(), {{"bind-address", "127.0.0.1"}, {"bind-port", peer.localPort()}});
    log.clear();
    QSignalSpy changed(port.data(), &AbstractTreeItem::dataChanged);
    QVERIFY(port->open(Plugin_Com_Port::ReadWrite));
    const QStringList critical = log.qtTexts(QtCriticalMsg);
    QVERIFY2(critical.size() == 1 && critical.first().startsWith("The following error occurred: "),
             qPrintable(critical.join('|')));
    QVERIFY(log.contains("udpClient: Disconnected") && !port->opened());
    QCOMPARE(writable(*port), s_udpClosedWritable);
    QCOMPARE(changed.count(), 2);

    // The bind address is logged as written, one holding a "%1" (a scope) too.
    configured(port.data(), {{"bind-address", "::1%1"}, {"bind-port", 0}});
    port->open(Plugin_Com_Port::ReadWrite);
    QVERIFY(log.contains(QStringLiteral("udpClient: Bind to IP ::1%1 port 0")));
}

QTEST_GUILESS_MAIN(tst_SocketClient)
#include "tst_socketclient.moc"
