#include "LogCapture.h"
#include "PCom_UdpClient_Device.h"
#include "PCom_UdpClient_Port.h"
#include "PluginInterface_Com.h"
#include "TavlinProperty_RegexValidator.h"

#include <QIntValidator>
#include <QNetworkDatagram>
#include <QNetworkInterface>
#include <QPluginLoader>
#include <QSignalSpy>
#include <QUdpSocket>
#include <QtTest>

// The UDP client port against QUdpSockets on the loopback interface.
class tst_UdpClient : public QObject
{
    Q_OBJECT
private slots:
    void deviceAndNewPort();
    void datagramsBothWays();
    void destinationFollowsProperties();
    void bindToPortInUse();
    void socketErrorsClosePort();
    void closeAndDelete();
    void pluginPortsTalkToEachOther();
};

namespace {

// A loopback peer that owns its port exclusively, so that a port of ours
// cannot share it.
bool bindPeer(QUdpSocket &peer, const QHostAddress &address = QHostAddress::LocalHost)
{
    return peer.bind(address, 0, QAbstractSocket::DontShareAddress);
}

// Two different free loopback UDP port numbers: taken from the system and
// given back.
QPair<quint16, quint16> twoFreePorts()
{
    QUdpSocket first;
    QUdpSocket second;
    if (!bindPeer(first) || !bindPeer(second))
        return {0, 0};
    return {first.localPort(), second.localPort()};
}

PCom_UdpClient_Port *newPort(PCom_UdpClient_Device &device, const QString &bindAddress, quint16 bindPort,
                             const QString &address, quint16 port)
{
    auto *p = static_cast<PCom_UdpClient_Port *>(device.createPort());
    p->setTavlinProperty(QStringLiteral("bind-address"), bindAddress);
    p->setTavlinProperty(QStringLiteral("bind-port"), bindPort);
    p->setTavlinProperty(QStringLiteral("address"), address);
    p->setTavlinProperty(QStringLiteral("port"), port);
    return p;
}

QNetworkDatagram nextDatagram(QUdpSocket &peer)
{
    if (!peer.hasPendingDatagrams()) {
        QSignalSpy ready(&peer, &QUdpSocket::readyRead);
        if (!ready.wait(5000))
            return QNetworkDatagram();
    }
    return peer.receiveDatagram();
}

// Waits for the port's readyRead() unless a datagram is already announced.
bool waitReady(QSignalSpy &ready)
{
    if (ready.isEmpty() && !ready.wait(5000))
        return false;
    ready.clear();
    return true;
}

QList<int> levels(const LogCapture &log)
{
    QList<int> out;
    for (const LogCapture::Line &line : log.lines())
        out << line.type;
    return out;
}

} // namespace

void tst_UdpClient::deviceAndNewPort()
{
    PCom_UdpClient_Device device(nullptr, nullptr);
    QCOMPARE(device.name(), QStringLiteral("Ethernet UDP client"));
    QCOMPARE(device.getDocPath(), QStringLiteral(":/PCom_Core/udpClient"));
    QStringList names;
    for (const QNetworkInterface &i : QNetworkInterface::allInterfaces())
        names << i.humanReadableName();
    QCOMPARE(device.availablePorts(), names);
    device.deletePort(nullptr);
    QVERIFY(device.getChildPropertyDoc(Version(QStringLiteral("2.12")))
                .contains(QLatin1String("UDP bind IP port (Host to listen from)")));

    QScopedPointer<Plugin_Com_Port> port(device.createPort());
    QVERIFY(qobject_cast<PCom_UdpClient_Port *>(port.data()));
    QCOMPARE(port->device(), &device);
    QVERIFY(port->isPluginPort());
    QVERIFY(!port->opened());
    QCOMPARE(port->getTavlinProperty("plugin"), QVariant(QStringLiteral("PCom_Core::udpClient")));
    QCOMPARE(port->getTavlinProperty("bind-address"), QVariant(QString()));
    QCOMPARE(port->getTavlinProperty("bind-port"), QVariant(0));
    QCOMPARE(port->getTavlinProperty("address"), QVariant(QString()));
    QCOMPARE(port->getTavlinProperty("port"), QVariant(0));
    QCOMPARE(port->getTavlinProperty("connect"), QVariant(false));
    QVERIFY(!port->getTavlinProperty("bind_port").isValid());
    QVERIFY(port->supportsHandler(QStringLiteral("dataMessageHandler")));
    QVERIFY(!port->supportsHandler(QString()));

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
        {"bind-address", TavlinProperty::FreeText, "0", true, "UDP bind IP address (Host to listen from)", true},
        {"bind-port", TavlinProperty::FreeText, "0", true, "UDP bind IP port (Host to listen from)", true},
        {"address", TavlinProperty::FreeText, "127.0.0.1", true, "IP address to send datagram to", true},
        {"port", TavlinProperty::FreeText, "0", true, "Port to send datagram to", true},
        {"connect", TavlinProperty::Boolean, "false", false, "Enable / disable the connection to the host", true},
    };
    const QList<TavlinProperty *> records = port->tavlinProperties();
    QCOMPARE(records.size(), 6);
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
    for (const char *name : {"bind-address", "address"}) {
        auto *ip = qobject_cast<TavlinProperty_RegexValidator *>(port->tavlinProperty(name)->validator());
        QVERIFY(ip);
        QCOMPARE(ip->pattern(), TavlinProperty_RegexValidator::IpAddress);
    }
    for (const char *name : {"bind-port", "port"}) {
        auto *range = qobject_cast<QIntValidator *>(port->tavlinProperty(name)->validator());
        QVERIFY(range);
        QCOMPARE(range->bottom(), 0);
        QCOMPARE(range->top(), 65535);
    }

    QScopedPointer<AbstractTreeItem> copy(port->createInstance());
    auto *other = qobject_cast<PCom_UdpClient_Port *>(copy.data());
    QVERIFY(other && other != port.data());
    QCOMPARE(other->device(), &device);

    LogCapture log;
    QSignalSpy changed(port.data(), &AbstractTreeItem::dataChanged);
    // Kept in 16 bits; the validator, not the port, limits edited input.
    QCOMPARE(port->setTavlinProperty("bind-port", 70000), QVariant(4464));
    QCOMPARE(port->setTavlinProperty("port", 65536 + 7), QVariant(7));
    QCOMPARE(port->setTavlinProperty("bind-address", QStringLiteral("127.0.0.1")),
             QVariant(QStringLiteral("127.0.0.1")));
    QCOMPARE(changed.count(), 3);
    QCOMPARE(port->setTavlinProperty("plugin", QStringLiteral("x")), QVariant(QStringLiteral("PCom_Core::udpClient")));
    QCOMPARE(changed.count(), 4);
    QCOMPARE(port->setTavlinProperty("connect", false), QVariant(false));
    QCOMPARE(changed.count(), 4);

    // Closed: nothing to send or read, and close only announces.
    char buf[8];
    QCOMPARE(port->writeRawData("abc", 3), 0);
    QCOMPARE(port->readRawData(buf, sizeof buf), -1);
    port->close();
    QCOMPARE(changed.count(), 5);
    QVERIFY(log.texts().isEmpty());
}

void tst_UdpClient::datagramsBothWays()
{
    QUdpSocket peer;
    QVERIFY(bindPeer(peer));
    PCom_UdpClient_Device device(nullptr, nullptr);
    QScopedPointer<PCom_UdpClient_Port> port(
        newPort(device, QStringLiteral("127.0.0.1"), 0, QStringLiteral("127.0.0.1"), peer.localPort()));
    QSignalSpy changed(port.data(), &AbstractTreeItem::dataChanged);
    LogCapture log;

    // No session is needed here, so the bind happens inside the open call.
    QCOMPARE(port->setTavlinProperty("connect", true), QVariant(true));
    QCOMPARE(log.texts(), (QStringList{"udpClient: Session opened", "udpClient: Connecting to host...",
                                       "udpClient: Bind to IP 127.0.0.1 port 0"}));
    QCOMPARE(levels(log), (QList<int>{QtInfoMsg, QtInfoMsg, QtInfoMsg}));
    QCOMPARE(changed.count(), 1);
    for (const char *name : {"bind-address", "bind-port", "address", "port"})
        QVERIFY(!port->tavlinProperty(name)->isWritable());
    QVERIFY(port->tavlinProperty("connect")->isWritable());

    // Open while open: refused and silent, but the locks are refreshed.
    log.clear();
    port->tavlinProperty("address")->setWritable(true);
    QVERIFY(!port->open(Plugin_Com_Port::ReadWrite));
    QVERIFY(!port->tavlinProperty("address")->isWritable());
    QCOMPARE(port->setTavlinProperty("connect", true), QVariant(true));
    QVERIFY(log.texts().isEmpty());

    // One write, one datagram.
    QCOMPARE(port->writeRawData("0123456789", 10), 10);
    const QNetworkDatagram out = nextDatagram(peer);
    QCOMPARE(out.data(), QByteArray("0123456789"));
    QVERIFY(!peer.hasPendingDatagrams());
    const QHostAddress portAddress = out.senderAddress();
    const quint16 portPort = quint16(out.senderPort());

    QSignalSpy ready(port.data(), &Plugin_Com_Port::readyRead);
    char buf[128];
    QCOMPARE(port->readRawData(buf, sizeof buf), -1);

    // A datagram larger than the buffer: the rest is lost with it.
    QByteArray big(100, '\0');
    for (int i = 0; i < big.size(); ++i)
        big[i] = char(i);
    QCOMPARE(peer.writeDatagram(big, portAddress, portPort), qint64(100));
    QVERIFY(waitReady(ready));
    QCOMPARE(port->readRawData(buf, 60), 60);
    QCOMPARE(QByteArray(buf, 60), big.left(60));
    QCOMPARE(log.texts(), QStringList{"UDP client: packet dropped in received datagram: 40 "});
    QCOMPARE(levels(log), QList<int>{QtWarningMsg});
    QCOMPARE(port->readRawData(buf, sizeof buf), -1);

    // An empty datagram is consumed and reads as nothing.
    log.clear();
    QCOMPARE(peer.writeDatagram(QByteArray(), portAddress, portPort), qint64(0));
    QVERIFY(waitReady(ready));
    QCOMPARE(port->readByteStream(buf, sizeof buf), -1);
    QCOMPARE(peer.writeDatagram(QByteArray("abc"), portAddress, portPort), qint64(3));
    QVERIFY(waitReady(ready));
    QCOMPARE(port->readByteStream(buf, sizeof buf), 3);
    QCOMPARE(QByteArray(buf, 3), QByteArray("abc"));

    // Two datagrams, two reads; the first read returns only the first.
    QCOMPARE(peer.writeDatagram(QByteArray("first"), portAddress, portPort), qint64(5));
    QCOMPARE(peer.writeDatagram(QByteArray("second!"), portAddress, portPort), qint64(7));
    QVERIFY(waitReady(ready));
    QCOMPARE(port->readRawData(buf, sizeof buf), 5);
    QCOMPARE(QByteArray(buf, 5), QByteArray("first"));
    int n = -1;
    QTRY_VERIFY(n > 0 || (n = port->readRawData(buf, sizeof buf)) > 0);
    QCOMPARE(n, 7);
    QCOMPARE(QByteArray(buf, 7), QByteArray("second!"));
    QCOMPARE(port->readRawData(buf, sizeof buf), -1);
    QVERIFY(log.texts().isEmpty());

    // Closing a bound socket ends at once.
    changed.clear();
    QCOMPARE(port->setTavlinProperty("connect", false), QVariant(false));
    QCOMPARE(log.texts(), QStringList{"udpClient: Disconnected"});
    QVERIFY(changed.count() >= 1);
    for (const char *name : {"bind-address", "bind-port", "address", "port"})
        QVERIFY(port->tavlinProperty(name)->isWritable());
    QVERIFY(!port->tavlinProperty("plugin")->isWritable());
    QCOMPARE(port->writeRawData("x", 1), 0);
}

void tst_UdpClient::destinationFollowsProperties()
{
    QUdpSocket peer;
    QVERIFY(bindPeer(peer));
    QUdpSocket other;
    QVERIFY(bindPeer(other));

    // Never configured but the destination: binds to no particular IPv4
    // address and port 0.
    PCom_UdpClient_Device device(nullptr, nullptr);
    QScopedPointer<Plugin_Com_Port> port(device.createPort());
    port->setTavlinProperty("address", QStringLiteral("127.0.0.1"));
    port->setTavlinProperty("port", peer.localPort());
    LogCapture log;
    QVERIFY(port->open(Plugin_Com_Port::ReadWrite));
    QCOMPARE(log.texts().last(), QStringLiteral("udpClient: Bind to IP  port 0"));
    QVERIFY(port->opened());

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
                                       "udpClient: Disconnected",
                                       "PCom_UdpClient_Port: 3 byte could not be send"}));
    QCOMPARE(levels(log), (QList<int>{QtCriticalMsg, QtInfoMsg, QtCriticalMsg}));
    QVERIFY(!port->opened());
    QVERIFY(!other.hasPendingDatagrams());
}

void tst_UdpClient::bindToPortInUse()
{
    QUdpSocket holder;
    QVERIFY(bindPeer(holder));
    PCom_UdpClient_Device device(nullptr, nullptr);
    QScopedPointer<PCom_UdpClient_Port> port(
        newPort(device, QStringLiteral("127.0.0.1"), holder.localPort(), QStringLiteral("127.0.0.1"), 9));
    QSignalSpy changed(port.data(), &AbstractTreeItem::dataChanged);
    LogCapture log;

    // The bind fails inside the open call: the error ends the port before
    // the bind line is written, and the open still reports success.
    QVERIFY(port->open(Plugin_Com_Port::ReadWrite));
    const QStringList texts = log.texts();
    QCOMPARE(texts.size(), 5);
    QCOMPARE(texts.mid(0, 2), (QStringList{"udpClient: Session opened", "udpClient: Connecting to host..."}));
    QVERIFY2(texts.at(2).startsWith(QLatin1String("The following error occurred: ")) &&
                 texts.at(2).endsWith(QLatin1Char('.')) &&
                 texts.at(2).size() > int(qstrlen("The following error occurred: .")),
             qPrintable(texts.at(2)));
    QCOMPARE(texts.mid(3), (QStringList{"udpClient: Disconnected",
                                        QStringLiteral("udpClient: Bind to IP 127.0.0.1 port %1")
                                            .arg(holder.localPort())}));
    QCOMPARE(levels(log), (QList<int>{QtInfoMsg, QtInfoMsg, QtCriticalMsg, QtInfoMsg, QtInfoMsg}));
    QCOMPARE(port->getTavlinProperty("connect"), QVariant(false));
    QVERIFY(port->tavlinProperty("bind-port")->isWritable());
    QCOMPARE(changed.count(), 2);

    // The port stays usable: a free port binds.
    log.clear();
    port->setTavlinProperty("bind-port", 0);
    QVERIFY(port->open(Plugin_Com_Port::ReadWrite));
    QVERIFY(port->opened());
    QCOMPARE(log.qtTexts(QtCriticalMsg), QStringList());
}

void tst_UdpClient::socketErrorsClosePort()
{
    PCom_UdpClient_Device device(nullptr, nullptr);
    QScopedPointer<PCom_UdpClient_Port> port(
        newPort(device, QStringLiteral("127.0.0.1"), 0, QStringLiteral("127.0.0.1"), 9));
    LogCapture log;

    // A bound UDP socket never reports these itself; the texts are the
    // port's answer to the socket's error signal.
    const QList<QPair<QAbstractSocket::SocketError, QString>> cases = {
        {QAbstractSocket::RemoteHostClosedError, QStringLiteral("RemoteHostClosedError.")},
        {QAbstractSocket::HostNotFoundError,
         QStringLiteral("The host was not found. Please check the host name and port settings.")},
        {QAbstractSocket::ConnectionRefusedError,
         QStringLiteral("The connection was refused by the peer. Make sure the server is running, "
                        "and that the host name and port settings are correct.")},
    };
    for (const auto &c : cases) {
        QVERIFY(port->open(Plugin_Com_Port::ReadWrite));
        log.clear();
        QVERIFY(QMetaObject::invokeMethod(port.data(), "onDisplayError",
                                          Q_ARG(QAbstractSocket::SocketError, c.first)));
        QCOMPARE(log.texts(), (QStringList{c.second, "udpClient: Disconnected"}));
        QCOMPARE(levels(log), (QList<int>{QtCriticalMsg, QtInfoMsg}));
        QVERIFY(!port->opened());
    }

    // Without a socket there is no error text to quote and nothing to release.
    log.clear();
    QSignalSpy changed(port.data(), &AbstractTreeItem::dataChanged);
    QVERIFY(QMetaObject::invokeMethod(port.data(), "onDisplayError",
                                      Q_ARG(QAbstractSocket::SocketError, QAbstractSocket::NetworkError)));
    QCOMPARE(log.texts(), QStringList{"The following error occurred: ."});
    QCOMPARE(changed.count(), 1);
}

void tst_UdpClient::closeAndDelete()
{
    QUdpSocket peer;
    QVERIFY(bindPeer(peer));
    PCom_UdpClient_Device device(nullptr, nullptr);
    Plugin_Com_Port *port =
        newPort(device, QStringLiteral("127.0.0.1"), 0, QStringLiteral("127.0.0.1"), peer.localPort());
    LogCapture log;
    QVERIFY(port->open(Plugin_Com_Port::ReadWrite));
    QCOMPARE(port->writeRawData("x", 1), 1);
    QCOMPARE(nextDatagram(peer).data(), QByteArray("x"));

    // Deleting an open port releases its socket without a word.
    log.clear();
    device.deletePort(port);
    QVERIFY(log.texts().isEmpty());
}

void tst_UdpClient::pluginPortsTalkToEachOther()
{
    QPluginLoader loader(QStringLiteral(PCOM_PLUGIN_FILE));
    QVERIFY2(loader.load(), qPrintable(loader.errorString()));
    auto *plugin = qobject_cast<PluginInterface_Com *>(loader.instance());
    QVERIFY(plugin);
    Plugin_Com_Device *device = plugin->createDevice(nullptr, QStringLiteral("udpClient"));
    QVERIFY(device);
    QCOMPARE(device->name(), QStringLiteral("Ethernet UDP client"));

    const auto [portA, portB] = twoFreePorts();
    QVERIFY(portA != 0 && portB != 0);
    Plugin_Com_Port *a = device->createPort();
    Plugin_Com_Port *b = device->createPort();
    for (auto [port, own, peer] : {std::make_tuple(a, portA, portB), std::make_tuple(b, portB, portA)}) {
        port->setTavlinProperty(QStringLiteral("bind-address"), QStringLiteral("127.0.0.1"));
        port->setTavlinProperty(QStringLiteral("bind-port"), own);
        port->setTavlinProperty(QStringLiteral("address"), QStringLiteral("127.0.0.1"));
        port->setTavlinProperty(QStringLiteral("port"), peer);
    }
    LogCapture log;
    QCOMPARE(a->setTavlinProperty(QStringLiteral("connect"), true), QVariant(true));
    QCOMPARE(b->setTavlinProperty(QStringLiteral("connect"), true), QVariant(true));
    QCOMPARE(log.qtTexts(QtCriticalMsg), QStringList());

    QSignalSpy readyA(a, &Plugin_Com_Port::readyRead);
    QSignalSpy readyB(b, &Plugin_Com_Port::readyRead);
    char buf[64];
    QCOMPARE(a->writeRawData("from a", 6), 6);
    QVERIFY(waitReady(readyB));
    QCOMPARE(b->readRawData(buf, sizeof buf), 6);
    QCOMPARE(QByteArray(buf, 6), QByteArray("from a"));

    QCOMPARE(b->writeRawData("reply from b", 12), 12);
    QVERIFY(waitReady(readyA));
    QCOMPARE(a->readRawData(buf, sizeof buf), 12);
    QCOMPARE(QByteArray(buf, 12), QByteArray("reply from b"));

    a->close();
    QVERIFY(!a->opened());
    device->deletePort(a);
    device->deletePort(b);
    plugin->deleteDevice(device);
    // Let the released sockets go before the library can be unloaded.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

QTEST_GUILESS_MAIN(tst_UdpClient)
#include "tst_udpclient.moc"
