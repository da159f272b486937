#include "tests/support/NetClientTestUtil.h"
#include "udpclient/PCom_UdpClient_Device.h"
#include "udpclient/PCom_UdpClient_Port.h"

#include <QNetworkDatagram>
#include <QUdpSocket>
#include <QtTest>

using namespace NetClientTestUtil;

// The UDP client port against QUdpSockets on the loopback interface.
class tst_UdpClient : public QObject
{
    Q_OBJECT
private slots:
    void datagramsBothWays();
    void destinationFollowsProperties();
};

namespace {

const QStringList s_addressing{"bind-address", "bind-port", "address", "port"};

QNetworkDatagram nextDatagram(QUdpSocket &peer)
{
    QSignalSpy ready(&peer, &QUdpSocket::readyRead);
    return peer.hasPendingDatagrams() || ready.wait(5000) ? peer.receiveDatagram() : QNetworkDatagram();
}

} // namespace

void tst_UdpClient::datagramsBothWays()
{
    // A peer that owns its port exclusively, so that a port of ours cannot
    // share it.
    QUdpSocket peer;
    QVERIFY(peer.bind(QHostAddress::LocalHost, 0, QAbstractSocket::DontShareAddress));
    PCom_UdpClient_Device device(nullptr, nullptr);
    // Bound to 127.0.0.1 and a port of the system's choice, sending to the peer.
    QScopedPointer<Plugin_Com_Port> port(configured(
        device.createPort(),
        {{"bind-address", "127.0.0.1"}, {"bind-port", 0}, {"address", "127.0.0.1"}, {"port", peer.localPort()}}));
    LogCapture log;
    QVERIFY(behavesClosed(*port, log));
    // Kept in 16 bits; the validator, not the port, limits edited input.
    QCOMPARE(port->setTavlinProperty("port", 65536 + peer.localPort()), QVariant(int(peer.localPort())));
    QSignalSpy changed(port.data(), &AbstractTreeItem::dataChanged);

    // No session is needed here, so the bind happens inside the open call.
    QCOMPARE(port->setTavlinProperty("connect", true), QVariant(true));
    QCOMPARE(log.texts(), (QStringList{"udpClient: Session opened", "udpClient: Connecting to host...",
                                       "udpClient: Bind to IP 127.0.0.1 port 0"}));
    QCOMPARE(levels(log), (QList<int>{QtInfoMsg, QtInfoMsg, QtInfoMsg}));
    QCOMPARE(changed.count(), 1);
    QCOMPARE(writable(*port), QStringList{"connect"});

    // Open while open: refused and silent, but the locks are refreshed.
    log.clear();
    port->tavlinProperty("address")->setWritable(true);
    QVERIFY(!port->open(Plugin_Com_Port::ReadWrite));
    QCOMPARE(writable(*port), QStringList{"connect"});

    // One write, one datagram.
    QCOMPARE(port->writeRawData("0123456789", 10), 10);
    const QNetworkDatagram out = nextDatagram(peer);
    QCOMPARE(out.data(), QByteArray("0123456789"));

    QSignalSpy ready(port.data(), &Plugin_Com_Port::readyRead);
    const auto send = [&](const QByteArray &data) {
        return peer.writeDatagram(data, out.senderAddress(), quint16(out.senderPort())) == data.size();
    };
    char buf[128];
    const auto read = [&](int max) {
        const int n = port->readRawData(buf, max);
        return n > 0 ? QByteArray(buf, n) : QByteArray::number(n);
    };
    QCOMPARE(read(128), QByteArray("-1"));

    // A datagram larger than the buffer: the rest is lost with it.
    QByteArray big;
    for (int i = 0; i < 100; ++i)
        big += char(i);
    QVERIFY(send(big) && waitReady(ready));
    QCOMPARE(read(60), big.left(60));
    QCOMPARE(log.texts(), QStringList{"UDP client: packet dropped in received datagram: 40 "});
    QCOMPARE(levels(log), QList<int>{QtWarningMsg});

    // An empty datagram is consumed and reads as nothing.
    log.clear();
    QVERIFY(send(QByteArray()) && waitReady(ready));
    QCOMPARE(port->readByteStream(buf, sizeof buf), -1);
    QVERIFY(send("abc") && waitReady(ready));
    QCOMPARE(read(128), QByteArray("abc"));

    // Two datagrams, two reads; the first read returns only the first.
    QVERIFY(send("first") && send("second!") && waitReady(ready));
    QCOMPARE(read(128), QByteArray("first"));
    QByteArray second = "-1";
    QTRY_VERIFY(second != "-1" || (second = read(128)) != "-1");
    QCOMPARE(second, QByteArray("second!"));
    QVERIFY(log.texts().isEmpty());

    // Closing a bound socket ends at once.
    changed.clear();
    QCOMPARE(port->setTavlinProperty("connect", false), QVariant(false));
    QCOMPARE(log.texts(), QStringList{"udpClient: Disconnected"});
    QVERIFY(changed.count() >= 1);
    QCOMPARE(writable(*port), s_addressing + QStringList{"connect"});
    QCOMPARE(port->writeRawData("x", 1), 0);

    // A bind port that another socket holds: the bind fails inside the open
    // call, the error ends the port before the bind line is written, and the
    // open still reports success.
    port->setTavlinProperty("bind-port", peer.localPort());
    log.clear();
    changed.clear();
    QVERIFY(port->open(Plugin_Com_Port::ReadWrite));
    QCOMPARE(levels(log), (QList<int>{QtInfoMsg, QtInfoMsg, QtCriticalMsg, QtInfoMsg, QtInfoMsg}));
    QStringList texts = log.texts();
    QVERIFY2(QRegularExpression("^The following error occurred: .+\\.$").match(texts.takeAt(2)).hasMatch(),
             qPrintable(log.texts().at(2)));
    QCOMPARE(texts, (QStringList{"udpClient: Session opened", "udpClient: Connecting to host...",
                                 "udpClient: Disconnected",
                                 QStringLiteral("udpClient: Bind to IP 127.0.0.1 port %1").arg(peer.localPort())}));
    QCOMPARE(port->getTavlinProperty("connect"), QVariant(false));
    QCOMPARE(writable(*port), s_addressing + QStringList{"connect"});
    QCOMPARE(changed.count(), 2);

    // The port stays usable: a free port binds.
    log.clear();
    port->setTavlinProperty("bind-port", 0);
    QVERIFY(port->open(Plugin_Com_Port::ReadWrite) && port->opened());
    QCOMPARE(log.qtTexts(QtCriticalMsg), QStringList());
}

void tst_UdpClient::destinationFollowsProperties()
{
    QUdpSocket peer, other;
    QVERIFY(peer.bind(QHostAddress(QHostAddress::LocalHost)) && other.bind(QHostAddress(QHostAddress::LocalHost)));

    // Never configured but the destination: binds to no particular IPv4
    // address and port 0.
    PCom_UdpClient_Device device(nullptr, nullptr);
    QScopedPointer<Plugin_Com_Port> port(
        configured(device.createPort(), {{"address", QStringLiteral("127.0.0.1")}, {"port", peer.localPort()}}));
    LogCapture log;
    QVERIFY(port->open(Plugin_Com_Port::ReadWrite));
    QCOMPARE(log.texts().last(), QStringLiteral("udpClient: Bind to IP  port 0"));

    QCOMPARE(port->writeRawData("first", 5), 5);
    QCOMPARE(nextDatagram(peer).data(), QByteArray("first"));

    // Locked for the host's editor, yet stored, and used by the next write.
    QVERIFY(!port->tavlinProperty("port")->isWritable());
    QCOMPARE(port->setTavlinProperty("port", other.localPort()), QVariant(int(other.localPort())));
    QCOMPARE(port->writeRawData("other", 5), 5);
    QCOMPARE(nextDatagram(other).data(), QByteArray("other"));
    QVERIFY(!peer.hasPendingDatagrams());

    // A new address is used at once too: an IPv6 one cannot be reached from
    // this IPv4 socket, so the send fails, which ends the port inside the
    // write; the whole datagram is reported as not sent.
    log.clear();
    QCOMPARE(port->setTavlinProperty("address", QStringLiteral("::1")), QVariant(QStringLiteral("::1")));
    QCOMPARE(port->writeRawData("six", 3), -1);
    QCOMPARE(log.texts(), (QStringList{"The following error occurred: Unable to send a message.",
                                       "udpClient: Disconnected", "PCom_UdpClient_Port: 3 byte could not be send"}));
    QCOMPARE(levels(log), (QList<int>{QtCriticalMsg, QtInfoMsg, QtCriticalMsg}));
    QVERIFY(!port->opened() && !other.hasPendingDatagrams());

    // The bind address is logged as written, one holding a "%1" (a scope) too.
    port->setTavlinProperty("bind-address", QStringLiteral("::1%1"));
    port->open(Plugin_Com_Port::ReadWrite);
    QVERIFY(log.contains(QStringLiteral("udpClient: Bind to IP ::1%1 port 0")));
}

QTEST_GUILESS_MAIN(tst_UdpClient)
#include "tst_udpclient.moc"
