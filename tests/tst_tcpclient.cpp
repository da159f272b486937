#include "LogCapture.h"
#include "PCom_TcpClient_Device.h"
#include "PCom_TcpClient_Port.h"
#include "TavlinProperty_RegexValidator.h"

#include <QIntValidator>
#include <QNetworkInterface>
#include <QNetworkProxy>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

// The TCP client port against a QTcpServer on the loopback interface.
class tst_TcpClient : public QObject
{
    Q_OBJECT
private slots:
    void deviceAndNewPort();
    void propertyWrites();
    void connectExchangeAndClose();
    void serverClosesConnection();
    void failedConnections();
    void deletingConnectedPortEndsLink();
    void closeWhileConnecting();
};

namespace {

const QString s_refused = QStringLiteral("The connection was refused by the peer. Make sure the server is running, "
                                         "and that the host name and port settings are correct.");

// A loopback port number on which nothing listens: taken from the system
// and given back at once.
quint16 closedPort()
{
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0))
        return 0;
    return probe.serverPort();
}

PCom_TcpClient_Port *newPort(PCom_TcpClient_Device &device, const QString &address, quint16 port)
{
    auto *p = static_cast<PCom_TcpClient_Port *>(device.createPort());
    p->setTavlinProperty(QStringLiteral("address"), address);
    p->setTavlinProperty(QStringLiteral("port"), port);
    return p;
}

QList<int> levels(const LogCapture &log)
{
    QList<int> out;
    for (const LogCapture::Line &line : log.lines())
        out << line.type;
    return out;
}

} // namespace

void tst_TcpClient::deviceAndNewPort()
{
    PCom_TcpClient_Device device(nullptr, nullptr);
    QCOMPARE(device.name(), QStringLiteral("Ethernet TCP client"));
    QCOMPARE(device.getDocPath(), QStringLiteral(":/PCom_Core/tcpClient"));
    QStringList names;
    for (const QNetworkInterface &i : QNetworkInterface::allInterfaces())
        names << i.humanReadableName();
    QCOMPARE(device.availablePorts(), names);
    device.deletePort(nullptr);
    QVERIFY(device.getChildPropertyDoc(Version(QStringLiteral("2.12")))
                .contains(QLatin1String("Server port to connect to")));

    QScopedPointer<Plugin_Com_Port> port(device.createPort());
    QVERIFY(qobject_cast<PCom_TcpClient_Port *>(port.data()));
    QCOMPARE(port->device(), &device);
    QVERIFY(port->isPluginPort());
    QVERIFY(!port->opened());
    QCOMPARE(port->getTavlinProperty("plugin"), QVariant(QStringLiteral("PCom_Core::tcpClient")));
    QCOMPARE(port->getTavlinProperty("address"), QVariant(QString()));
    QCOMPARE(port->getTavlinProperty("port"), QVariant(0));
    QCOMPARE(port->getTavlinProperty("connect"), QVariant(false));
    QVERIFY(!port->getTavlinProperty("Port").isValid());
    QVERIFY(port->supportsHandler(QStringLiteral("dataMessageHandler")));
    QVERIFY(!port->supportsHandler(QStringLiteral("DataMessageHandler")));

    struct Expected {
        const char *name;
        TavlinProperty::InputType type;
        const char *defaultText;
        bool validated;
        const char *description;
        bool writable;
    };
    const Expected expected[] = {
        {"plugin", TavlinProperty::FreeText, "", false, "Plugin name", false},
        {"address", TavlinProperty::FreeText, "127.0.0.1", true, "Server IP address to connect to", true},
        {"port", TavlinProperty::FreeText, "0", true, "Server port to connect to", true},
        {"connect", TavlinProperty::Boolean, "false", false, "Enable / disable the connection to the server", true},
    };
    const QList<TavlinProperty *> records = port->tavlinProperties();
    QCOMPARE(records.size(), 4);
    for (int i = 0; i < records.size(); ++i) {
        const TavlinProperty *r = records.at(i);
        QCOMPARE(r->name(), QString::fromLatin1(expected[i].name));
        QCOMPARE(r->inputType(), expected[i].type);
        QCOMPARE(r->defaultValue(), QString::fromLatin1(expected[i].defaultText));
        QVERIFY(r->isVisible());
        QCOMPARE(r->isValidated(), expected[i].validated);
        QCOMPARE(r->isStored(), !expected[i].validated);
        QCOMPARE(r->description, QString::fromLatin1(expected[i].description));
        QCOMPARE(r->isWritable(), expected[i].writable);
        QCOMPARE(r->minVersion(), Version(QStringLiteral("2.12")));
        QVERIFY(r->maxVersion().isOpenEnd());
    }
    auto *ip = qobject_cast<TavlinProperty_RegexValidator *>(port->tavlinProperty("address")->validator());
    QVERIFY(ip);
    QCOMPARE(ip->pattern(), TavlinProperty_RegexValidator::IpAddress);
    auto *range = qobject_cast<QIntValidator *>(port->tavlinProperty("port")->validator());
    QVERIFY(range);
    QCOMPARE(range->bottom(), 0);
    QCOMPARE(range->top(), 65535);
    QVERIFY(!port->tavlinProperty("plugin")->validator());
    QVERIFY(!port->tavlinProperty("connect")->validator());

    QScopedPointer<AbstractTreeItem> copy(port->createInstance());
    auto *other = qobject_cast<PCom_TcpClient_Port *>(copy.data());
    QVERIFY(other && other != port.data());
    QCOMPARE(other->device(), &device);

    // Closed: nothing to write to or read from, and close only announces.
    LogCapture log;
    QSignalSpy changed(port.data(), &AbstractTreeItem::dataChanged);
    char buf[8];
    QCOMPARE(port->writeRawData("abc", 3), 0);
    QCOMPARE(port->writeByteStream("abc", 3), 0);
    QCOMPARE(port->readRawData(buf, sizeof buf), -1);
    QCOMPARE(port->readByteStream(buf, sizeof buf), -1);
    port->close();
    QCOMPARE(changed.count(), 1);
    QVERIFY(log.texts().isEmpty());
}

void tst_TcpClient::propertyWrites()
{
    PCom_TcpClient_Device device(nullptr, nullptr);
    QScopedPointer<PCom_TcpClient_Port> port(static_cast<PCom_TcpClient_Port *>(device.createPort()));
    LogCapture log;
    QSignalSpy changed(port.data(), &AbstractTreeItem::dataChanged);

    // Kept in 16 bits; the validator, not the port, limits edited input.
    QCOMPARE(port->setTavlinProperty("port", 70000), QVariant(4464));
    QCOMPARE(port->setTavlinProperty("port", QStringLiteral("4464")), QVariant(QStringLiteral("4464")));
    QCOMPARE(changed.count(), 1);
    QCOMPARE(port->setTavlinProperty("address", QStringLiteral("server.example")),
             QVariant(QStringLiteral("server.example")));
    QCOMPARE(changed.count(), 2);

    // Read-only and unknown names: nothing changes, the write is still announced.
    QCOMPARE(port->setTavlinProperty("plugin", QStringLiteral("other")),
             QVariant(QStringLiteral("PCom_Core::tcpClient")));
    QCOMPARE(changed.count(), 3);
    QVERIFY(!port->setTavlinProperty("baudrate", 9600).isValid());
    QCOMPARE(changed.count(), 4);

    QCOMPARE(port->setTavlinProperty("connect", false), QVariant(false));
    QCOMPARE(changed.count(), 4);
    QVERIFY(log.texts().isEmpty());
}

void tst_TcpClient::connectExchangeAndClose()
{
    QTcpServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost, 0));
    PCom_TcpClient_Device device(nullptr, nullptr);
    QScopedPointer<PCom_TcpClient_Port> port(newPort(device, QStringLiteral("127.0.0.1"), server.serverPort()));
    QSignalSpy changed(port.data(), &AbstractTreeItem::dataChanged);
    LogCapture log;

    // No session is needed here, so the connection attempt starts inside the open call.
    QCOMPARE(port->setTavlinProperty("connect", true), QVariant(true));
    QCOMPARE(log.qtTexts(QtInfoMsg).mid(0, 2),
             (QStringList{"tcpClient: Session opened", "tcpClient: Connecting to host..."}));
    QCOMPARE(changed.count(), 1);
    QVERIFY(!port->tavlinProperty("address")->isWritable());
    QVERIFY(!port->tavlinProperty("port")->isWritable());
    QVERIFY(port->tavlinProperty("connect")->isWritable());
    QVERIFY(!port->tavlinProperty("plugin")->isWritable());

    QTRY_VERIFY(log.contains(QStringLiteral("tcpClient: Connected")));
    QCOMPARE(log.texts(), (QStringList{"tcpClient: Session opened", "tcpClient: Connecting to host...",
                                       "tcpClient: Host found", "tcpClient: Connected"}));
    QCOMPARE(levels(log), (QList<int>{QtInfoMsg, QtInfoMsg, QtInfoMsg, QtInfoMsg}));
    QTRY_VERIFY(server.hasPendingConnections());
    QScopedPointer<QTcpSocket> peer(server.nextPendingConnection());

    // Open while open: refused, silent, nothing changes (the locks are not
    // even refreshed).
    log.clear();
    port->tavlinProperty("address")->setWritable(true);
    QVERIFY(!port->open(Plugin_Com_Port::ReadWrite));
    QVERIFY(port->tavlinProperty("address")->isWritable());
    port->tavlinProperty("address")->setWritable(false);
    QCOMPARE(port->setTavlinProperty("connect", true), QVariant(true));
    QVERIFY(log.texts().isEmpty());
    QVERIFY(port->opened());

    // Stored while open; used at the next open.
    QCOMPARE(port->setTavlinProperty("port", 1), QVariant(1));
    QVERIFY(port->opened());

    char buf[64];
    QCOMPARE(port->readRawData(buf, sizeof buf), -1);

    const QByteArray out("to the server\0\xff", 15);
    QCOMPARE(port->writeRawData(out.constData(), out.size()), out.size());
    QByteArray atServer;
    QTRY_COMPARE((atServer += peer->readAll()), out);

    QSignalSpy ready(port.data(), &Plugin_Com_Port::readyRead);
    const QByteArray in("from the server");
    peer->write(in);
    QByteArray atClient;
    for (int round = 0; round < 50 && atClient.size() < in.size(); ++round) {
        if (ready.isEmpty())
            QVERIFY(ready.wait(5000));
        ready.clear();
        int n;
        while ((n = port->readByteStream(buf, 4)) > 0)
            atClient.append(buf, n);
        QCOMPARE(n, -1);
    }
    QCOMPARE(atClient, in);
    QCOMPARE(port->readByteStream(buf, sizeof buf), -1);
    QVERIFY(log.texts().isEmpty());

    // Closing from our side ends the link once the socket reports it.
    changed.clear();
    QSignalSpy peerGone(peer.data(), &QTcpSocket::disconnected);
    QCOMPARE(port->setTavlinProperty("connect", false), QVariant(false));
    QCOMPARE(log.texts(), QStringList{"tcpClient: Disconnected"});
    QVERIFY(changed.count() >= 1);
    QVERIFY(port->tavlinProperty("address")->isWritable());
    QVERIFY(port->tavlinProperty("port")->isWritable());
    QVERIFY(!port->tavlinProperty("plugin")->isWritable());
    QVERIFY(peerGone.wait(5000));
    QCOMPARE(port->writeRawData("x", 1), 0);
}

void tst_TcpClient::serverClosesConnection()
{
    QTcpServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost, 0));
    PCom_TcpClient_Device device(nullptr, nullptr);
    QScopedPointer<PCom_TcpClient_Port> port(newPort(device, QStringLiteral("127.0.0.1"), server.serverPort()));
    LogCapture log;
    QVERIFY(port->open(Plugin_Com_Port::ReadWrite));
    QTRY_VERIFY(server.hasPendingConnections());
    QScopedPointer<QTcpSocket> peer(server.nextPendingConnection());
    QTRY_VERIFY(log.contains(QStringLiteral("tcpClient: Connected")));

    log.clear();
    QSignalSpy changed(port.data(), &AbstractTreeItem::dataChanged);
    peer->close();
    QTRY_COMPARE(port->getTavlinProperty("connect"), QVariant(false));
    QCOMPARE(log.texts(), (QStringList{"The server closed the connection.", "tcpClient: Disconnected"}));
    QCOMPARE(levels(log), (QList<int>{QtCriticalMsg, QtInfoMsg}));
    QVERIFY(changed.count() >= 1);
    QVERIFY(port->tavlinProperty("address")->isWritable());

    // Closed for good: a new open makes a new connection.
    log.clear();
    QVERIFY(port->open(Plugin_Com_Port::ReadWrite));
    QTRY_VERIFY(server.hasPendingConnections());
    QTRY_VERIFY(log.contains(QStringLiteral("tcpClient: Connected")));
}

void tst_TcpClient::failedConnections()
{
    PCom_TcpClient_Device device(nullptr, nullptr);

    // Never configured: an empty host name and port 0.
    {
        QScopedPointer<Plugin_Com_Port> port(device.createPort());
        LogCapture log;
        QCOMPARE(port->setTavlinProperty("connect", true), QVariant(true));
        QTRY_COMPARE(port->getTavlinProperty("connect"), QVariant(false));
        QCOMPARE(log.texts(), (QStringList{"tcpClient: Session opened", "tcpClient: Connecting to host...",
                                           "The host was not found. Please check the host name and port settings.",
                                           "tcpClient: Disconnected"}));
        QCOMPARE(levels(log), (QList<int>{QtInfoMsg, QtInfoMsg, QtCriticalMsg, QtInfoMsg}));
        QVERIFY(port->tavlinProperty("address")->isWritable());
    }

    // Nobody listens.
    {
        const quint16 closed = closedPort();
        QVERIFY(closed != 0);
        QScopedPointer<PCom_TcpClient_Port> port(newPort(device, QStringLiteral("127.0.0.1"), closed));
        LogCapture log;
        QVERIFY(port->open(Plugin_Com_Port::ReadWrite));
        QTRY_COMPARE(port->opened(), false);
        QCOMPARE(log.texts(), (QStringList{"tcpClient: Session opened", "tcpClient: Connecting to host...",
                                           "tcpClient: Host found", s_refused, "tcpClient: Disconnected"}));
        QCOMPARE(log.lines().at(3).type, int(QtCriticalMsg));
    }

    // Any other error is reported with the socket's own text: here a SOCKS
    // proxy on loopback that does not answer. Qt never proxies loopback
    // targets, so the target is a documentation address that the request
    // never reaches: the only traffic is the refused attempt on loopback.
    {
        const quint16 closed = closedPort();
        QVERIFY(closed != 0);
        QNetworkProxy::setApplicationProxy(
            QNetworkProxy(QNetworkProxy::Socks5Proxy, QStringLiteral("127.0.0.1"), closed));
        QScopedPointer<PCom_TcpClient_Port> port(newPort(device, QStringLiteral("192.0.2.1"), 9));
        LogCapture log;
        QVERIFY(port->open(Plugin_Com_Port::ReadWrite));
        QTRY_COMPARE(port->opened(), false);
        QNetworkProxy::setApplicationProxy(QNetworkProxy::NoProxy);
        const QStringList critical = log.qtTexts(QtCriticalMsg);
        QCOMPARE(critical, QStringList{"The following error occurred: Connection to proxy refused."});
        QCOMPARE(log.texts().last(), QStringLiteral("tcpClient: Disconnected"));
    }
}

void tst_TcpClient::deletingConnectedPortEndsLink()
{
    QTcpServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost, 0));
    PCom_TcpClient_Device device(nullptr, nullptr);
    Plugin_Com_Port *port = newPort(device, QStringLiteral("127.0.0.1"), server.serverPort());
    LogCapture log;
    QVERIFY(port->open(Plugin_Com_Port::ReadWrite));
    QTRY_VERIFY(server.hasPendingConnections());
    QScopedPointer<QTcpSocket> peer(server.nextPendingConnection());
    QSignalSpy peerGone(peer.data(), &QTcpSocket::disconnected);
    QTRY_VERIFY(log.contains(QStringLiteral("tcpClient: Connected")));

    log.clear();
    device.deletePort(port);
    QVERIFY(peerGone.wait(5000));
    // The port is gone: its socket's last signals reach nobody.
    QVERIFY(log.texts().isEmpty());
}

// A close during the host lookup must not let the connection happen later.
void tst_TcpClient::closeWhileConnecting()
{
    QTcpServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost, 0));
    PCom_TcpClient_Device device(nullptr, nullptr);
    QScopedPointer<PCom_TcpClient_Port> port(newPort(device, QStringLiteral("localhost"), server.serverPort()));
    LogCapture log;
    QSignalSpy changed(port.data(), &AbstractTreeItem::dataChanged);

    QVERIFY(port->open(Plugin_Com_Port::ReadWrite));
    QCOMPARE(port->setTavlinProperty(QStringLiteral("connect"), false), QVariant(false));
    QVERIFY(!port->opened());
    QVERIFY(port->tavlinProperty(QStringLiteral("address"))->isWritable());
    QCOMPARE(log.qtTexts().last(), QStringLiteral("tcpClient: Disconnected"));
    QVERIFY(changed.count() >= 2);

    // The event loop runs long enough for a lookup of localhost to finish.
    QSignalSpy accepted(&server, &QTcpServer::newConnection);
    QVERIFY(!accepted.wait(500));
    QVERIFY(!log.contains(QStringLiteral("tcpClient: Connected")));

    // The port opens again as usual.
    QVERIFY(port->open(Plugin_Com_Port::ReadWrite));
    QTRY_VERIFY(log.contains(QStringLiteral("tcpClient: Connected")));
    QTRY_COMPARE(accepted.count(), 1);
}

QTEST_GUILESS_MAIN(tst_TcpClient)
#include "tst_tcpclient.moc"
