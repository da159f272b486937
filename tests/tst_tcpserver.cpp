#include "LogCapture.h"
#include "PCom_Core.h"
#include "PCom_TcpServer_Device.h"
#include "PCom_TcpServer_Port.h"
#include "TcpServerTestUtil.h"
#include "TavlinProperty_RegexValidator.h"

#include <QIntValidator>
#include <QNetworkInterface>
#include <QSignalSpy>
#include <QtTest>

using namespace TcpServerTestUtil;

// The TCP server port's properties, its server's creation, listening and
// closing, with real client sockets on loopback.
class tst_TcpServer : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void deviceAndNewPort();
    void propertyWrites();
    void firstOpenListsAddressesAndListensOnChosenPort();
    void reopenReusesServer();
    void listensOnAnyForIpv4AndIpv6();
    void openFailures();
    void sessionOpenedAgainKeepsServer();

private:
    PCom_TcpServer_Device *m_device = nullptr;
    PCom_TcpServer_Port *m_port = nullptr;
};

void tst_TcpServer::init()
{
    m_device = new PCom_TcpServer_Device(nullptr, nullptr);
    m_port = static_cast<PCom_TcpServer_Port *>(m_device->createPort());
}

void tst_TcpServer::cleanup()
{
    m_device->deletePort(m_port);
    delete m_device;
    flushDeferredDeletes();
}

void tst_TcpServer::deviceAndNewPort()
{
    PCom_Core core;
    QScopedPointer<Plugin_Com_Device> made(core.createDevice(nullptr, QStringLiteral("tcpServer")));
    QVERIFY(dynamic_cast<PCom_TcpServer_Device *>(made.data()));
    QCOMPARE(made->name(), QStringLiteral("Ethernet TCP server"));
    QCOMPARE(made->getDocPath(), QStringLiteral(":/PCom_Core/tcpServer"));

    // All devices at once: the TCP server device follows the serial one.
    QList<Plugin_Com_Device *> all;
    core.createDevices(all);
    int serverAt = -1;
    for (int i = 0; i < all.size(); ++i) {
        if (dynamic_cast<PCom_TcpServer_Device *>(all.at(i))) {
            QCOMPARE(serverAt, -1);
            serverAt = i;
        }
    }
    QVERIFY(serverAt > 0);
    QCOMPARE(all.at(0)->name(), QStringLiteral("COM port"));
    QCOMPARE(all.at(serverAt)->comInterface(), nullptr);
    qDeleteAll(all);

    QStringList names;
    for (const QNetworkInterface &iface : QNetworkInterface::allInterfaces())
        names << iface.humanReadableName();
    QCOMPARE(m_device->availablePorts(), names);
    m_device->deletePort(nullptr);

    LogCapture log;
    QScopedPointer<AbstractTreeItem> other(m_port->createInstance());
    QVERIFY(qobject_cast<PCom_TcpServer_Port *>(other.data()));
    QVERIFY(other.data() != m_port);
    QCOMPARE(static_cast<PCom_TcpServer_Port *>(other.data())->device(), m_device);

    QCOMPARE(m_port->typeKey(), QStringLiteral("tcpServer"));
    QVERIFY(m_port->isPluginPort());
    QVERIFY(!m_port->usesFrameIds());
    QVERIFY(m_port->supportsHandler(QStringLiteral("dataMessageHandler")));
    QVERIFY(!m_port->supportsHandler(QStringLiteral("DataMessageHandler")));
    QCOMPARE(m_port->getTavlinProperty("plugin"), QVariant(QStringLiteral("PCom_Core::tcpServer")));
    QCOMPARE(m_port->getTavlinProperty("port"), QVariant(0));
    QCOMPARE(m_port->getTavlinProperty("address"), QVariant(QString()));
    QCOMPARE(m_port->getTavlinProperty("connect"), QVariant(false));
    QVERIFY(!m_port->getTavlinProperty("Port").isValid());
    QVERIFY(!m_port->tcpServer());

    QStringList recordNames;
    for (TavlinProperty *p : m_port->tavlinProperties()) {
        recordNames << p->name();
        QVERIFY(p->isVisible());
        QVERIFY(p->options().isEmpty());
        QVERIFY(!p->isSupported(Version(QStringLiteral("2.10"))));
        QVERIFY(p->isSupported(Version(QStringLiteral("2.12"))));
        QVERIFY(p->isSupported(Version(QStringLiteral("3.0"))));
    }
    QCOMPARE(recordNames, (QStringList{"plugin", "port", "address", "connect"}));

    const TavlinProperty *plugin = m_port->tavlinProperty("plugin");
    QCOMPARE(plugin->description, QStringLiteral("Plugin name"));
    QCOMPARE(plugin->defaultValue(), QString());
    QVERIFY(!plugin->isWritable() && !plugin->isValidated() && plugin->isStored());

    const TavlinProperty *port = m_port->tavlinProperty("port");
    QCOMPARE(port->description, QStringLiteral("Port where the server listen on"));
    QCOMPARE(port->defaultValue(), QStringLiteral("0"));
    QVERIFY(port->isWritable() && port->isValidated() && !port->isStored());
    auto *portValidator = qobject_cast<QIntValidator *>(port->validator());
    QVERIFY(portValidator);
    QCOMPARE(portValidator->bottom(), 0);
    QCOMPARE(portValidator->top(), 65535);

    const TavlinProperty *address = m_port->tavlinProperty("address");
    QCOMPARE(address->description, QStringLiteral("IP address where the server listen on"));
    QCOMPARE(address->defaultValue(), QStringLiteral("127.0.0.1"));
    QVERIFY(address->isWritable() && address->isValidated() && !address->isStored());
    auto *addressValidator = qobject_cast<TavlinProperty_RegexValidator *>(address->validator());
    QVERIFY(addressValidator);
    QCOMPARE(addressValidator->pattern(), TavlinProperty_RegexValidator::IpAddress);

    const TavlinProperty *connect = m_port->tavlinProperty("connect");
    QCOMPARE(connect->description, QStringLiteral("Enable / disable the server for listening for connection"));
    QCOMPARE(connect->defaultValue(), QStringLiteral("false"));
    QCOMPARE(connect->inputType(), TavlinProperty::Boolean);
    QVERIFY(connect->isWritable() && !connect->isValidated() && connect->isStored());

    // Building ports, and documenting them, neither logs nor creates a server.
    QVERIFY(!m_device->getChildPropertyDoc(Version(QStringLiteral("2.12"))).isEmpty());
    QVERIFY(log.texts().isEmpty());
}

void tst_TcpServer::propertyWrites()
{
    LogCapture log;
    QSignalSpy changed(m_port, &AbstractTreeItem::dataChanged);

    // Equal values, also a text holding the same number, return at once.
    QCOMPARE(m_port->setTavlinProperty("port", QStringLiteral("0")), QVariant(QStringLiteral("0")));
    QCOMPARE(m_port->setTavlinProperty("address", QString()), QVariant(QString()));
    QCOMPARE(m_port->setTavlinProperty("connect", false), QVariant(false));
    QCOMPARE(changed.count(), 0);
    QVERIFY(log.texts().isEmpty());

    QCOMPARE(m_port->setTavlinProperty("port", 70000), QVariant(4464));
    QCOMPARE(m_port->getTavlinProperty("port"), QVariant(4464));
    QCOMPARE(m_port->setTavlinProperty("port", QStringLiteral("5020")), QVariant(5020));
    QCOMPARE(m_port->setTavlinProperty("address", QStringLiteral(" any")), QVariant(QStringLiteral(" any")));
    QCOMPARE(changed.count(), 3);
    QCOMPARE(log.deviceTexts(KrLog_Interface::Trace),
             (QStringList{"PCom_TcpServer_Port(Server)::setTavlinProperty(port, 70000) ",
                          "PCom_TcpServer_Port(Server)::setTavlinProperty(port, 5020) ",
                          "PCom_TcpServer_Port(Server)::setTavlinProperty(address,  any) "}));
    QCOMPARE(log.texts().size(), 3);

    // A read-only or unknown name is traced and announced, and changes nothing.
    log.clear();
    QCOMPARE(m_port->setTavlinProperty("plugin", QStringLiteral("x")), QVariant(QStringLiteral("PCom_Core::tcpServer")));
    QVERIFY(!m_port->setTavlinProperty("baudrate", 9600).isValid());
    QCOMPARE(log.texts(), (QStringList{"PCom_TcpServer_Port(Server)::setTavlinProperty(plugin, x) ",
                                       "PCom_TcpServer_Port(Server)::setTavlinProperty(baudrate, 9600) "}));
    QCOMPARE(changed.count(), 5);

    // Closing a port that never opened creates nothing and logs nothing.
    log.clear();
    m_port->close();
    QCOMPARE(changed.count(), 6);
    QVERIFY(log.texts().isEmpty());
    QVERIFY(!m_port->tcpServer());
}

void tst_TcpServer::firstOpenListsAddressesAndListensOnChosenPort()
{
    LogCapture log;
    m_port->setTavlinProperty("address", QStringLiteral("127.0.0.1"));
    log.clear();
    QSignalSpy changed(m_port, &AbstractTreeItem::dataChanged);

    QVERIFY(m_port->open(Plugin_Com_Port::ReadWrite));
    // Once when the server is created inside the open, once for the open.
    QCOMPARE(changed.count(), 2);

    const quint16 chosen = runningPort(log);
    QVERIFY(chosen != 0);
    QStringList expected{"tcpServer: Session opened", "tcpServer: The following server addresses are available:",
                         "tcpServer: - any"};
    for (const QHostAddress &address : QNetworkInterface::allAddresses()) {
        if (address.toIPv4Address() != 0)
            expected << QStringLiteral("tcpServer: - IPv4: %1").arg(address.toString());
    }
    QVERIFY(expected.contains(QStringLiteral("tcpServer: - IPv4: 127.0.0.1")));
    expected << QStringLiteral("tcpServer: Server running on IP 127.0.0.1, port %1").arg(chosen);
    QCOMPARE(log.texts(), expected);
    QCOMPARE(log.deviceTexts(KrLog_Interface::Progress), expected);

    // The system's choice shows in the log only; "port" keeps what was written.
    QCOMPARE(m_port->getTavlinProperty("port"), QVariant(0));
    QCOMPARE(m_port->getTavlinProperty("connect"), QVariant(true));
    QVERIFY(m_port->opened());
    QVERIFY(!m_port->tavlinProperty("port")->isWritable());
    QVERIFY(!m_port->tavlinProperty("address")->isWritable());
    QVERIFY(m_port->tavlinProperty("connect")->isWritable());
    QVERIFY(!m_port->tavlinProperty("plugin")->isWritable());

    QTcpSocket client;
    QVERIFY(connectClient(client, QHostAddress::LocalHost, chosen));
    QTRY_COMPARE(countOf(log, "tcpServer: New connection"), 1);

    // Writing "connect" true while listening compares equal.
    log.clear();
    QCOMPARE(m_port->setTavlinProperty("connect", true), QVariant(true));
    QVERIFY(log.texts().isEmpty());

    // A write while listening is stored for the next open; the binding stays.
    QCOMPARE(m_port->setTavlinProperty("address", QStringLiteral("127.0.0.2")), QVariant(QStringLiteral("127.0.0.2")));
    QCOMPARE(m_port->tcpServer()->serverAddress(), QHostAddress(QHostAddress::LocalHost));
}

void tst_TcpServer::reopenReusesServer()
{
    LogCapture log;
    m_port->setTavlinProperty("address", QStringLiteral("127.0.0.1"));
    QVERIFY(m_port->open(Plugin_Com_Port::ReadWrite));
    QTcpServer *server = m_port->tcpServer();
    QVERIFY(server);

    QSignalSpy changed(m_port, &AbstractTreeItem::dataChanged);
    log.clear();
    QCOMPARE(m_port->setTavlinProperty("connect", false), QVariant(false));
    QCOMPARE(changed.count(), 1);
    QVERIFY(!m_port->opened());
    QVERIFY(m_port->tavlinProperty("port")->isWritable());
    QVERIFY(m_port->tavlinProperty("address")->isWritable());
    QVERIFY(!m_port->tavlinProperty("plugin")->isWritable());
    QCOMPARE(log.texts(), QStringList{"PCom_TcpServer_Port(Server)::setTavlinProperty(connect, false) "});

    log.clear();
    QCOMPARE(m_port->setTavlinProperty("connect", true), QVariant(true));
    QCOMPARE(changed.count(), 2);
    QCOMPARE(m_port->tcpServer(), server);
    const quint16 chosen = runningPort(log);
    QVERIFY(chosen != 0);
    QCOMPARE(log.texts(), (QStringList{"PCom_TcpServer_Port(Server)::setTavlinProperty(connect, true) ",
                                       QStringLiteral("tcpServer: Server running on IP 127.0.0.1, port %1").arg(chosen)}));

    m_port->close();
    log.clear();
    QVERIFY(m_port->open(Plugin_Com_Port::ReadWrite));
    QCOMPARE(changed.count(), 4);
    QCOMPARE(m_port->tcpServer(), server);
    QCOMPARE(log.texts().size(), 1);

    QTcpSocket client;
    QVERIFY(connectClient(client, QHostAddress::LocalHost, runningPort(log)));
    QTRY_COMPARE(countOf(log, "tcpServer: New connection"), 1);
}

void tst_TcpServer::listensOnAnyForIpv4AndIpv6()
{
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHostIPv6))
        QSKIP("This machine has no IPv6 loopback");
    probe.close();

    LogCapture log;
    const quint16 chosen = listen(*m_port, log, QStringLiteral("any"));
    QVERIFY(chosen != 0);
    QVERIFY(log.contains(QStringLiteral("tcpServer: Server running on IP any, port %1").arg(chosen)));

    QTcpSocket v4;
    QTcpSocket v6;
    QVERIFY(connectClient(v4, QHostAddress::LocalHost, chosen));
    QTRY_COMPARE(countOf(log, "tcpServer: New connection"), 1);
    QVERIFY(connectClient(v6, QHostAddress::LocalHostIPv6, chosen));
    QTRY_COMPARE(countOf(log, "tcpServer: New connection"), 2);

    QCOMPARE(m_port->writeByteStream("both", 4), 4);
    QTRY_COMPARE(v4.bytesAvailable(), qint64(4));
    QTRY_COMPARE(v6.bytesAvailable(), qint64(4));
    QCOMPARE(v4.readAll(), QByteArray("both"));
    QCOMPARE(v6.readAll(), QByteArray("both"));
}

void tst_TcpServer::openFailures()
{
    LogCapture log;
    QSignalSpy changed(m_port, &AbstractTreeItem::dataChanged);

    // No address: no listen is tried.
    QVERIFY(!m_port->open(Plugin_Com_Port::ReadWrite));
    QCOMPARE(log.deviceTexts(KrLog_Interface::Error), QStringList{"IP address not set"});
    QCOMPARE(m_port->getTavlinProperty("connect"), QVariant(false));
    QVERIFY(m_port->tcpServer());
    QVERIFY(!m_port->tcpServer()->isListening());
    QCOMPARE(changed.count(), 2);

    // Once the server exists, the refused open does not refresh the locks.
    log.clear();
    m_port->tavlinProperty("port")->setWritable(false);
    QCOMPARE(m_port->setTavlinProperty("connect", true), QVariant(false));
    QCOMPARE(log.deviceTexts(KrLog_Interface::Error), QStringList{"IP address not set"});
    QVERIFY(!log.contains("tcpServer: The following server addresses are available:"));
    QVERIFY(!m_port->tavlinProperty("port")->isWritable());
    m_port->tavlinProperty("port")->setWritable(true);

    // A second open while listening fails like any other listen and stops
    // the server, releasing its client.
    log.clear();
    const quint16 chosen = listen(*m_port, log);
    QVERIFY(chosen != 0);
    QTcpSocket client;
    QSignalSpy clientGone(&client, &QTcpSocket::disconnected);
    QVERIFY(connectClient(client, QHostAddress::LocalHost, chosen));
    QTRY_COMPARE(countOf(log, "tcpServer: New connection"), 1);

    log.clear();
    QVERIFY(!m_port->open(Plugin_Com_Port::ReadWrite));
    const QStringList errors = log.deviceTexts(KrLog_Interface::Error);
    QCOMPARE(errors.size(), 1);
    QVERIFY(errors.first().startsWith(QStringLiteral("Unable to start the server: ")));
    QCOMPARE(log.deviceTexts(KrLog_Interface::Trace),
             QStringList{"tcpServer: PCom_TcpServer_SockerOwner::~disconnectFromHost()"});
    QVERIFY(!m_port->opened());
    QCOMPARE(m_port->getTavlinProperty("connect"), QVariant(false));
    QVERIFY(m_port->tavlinProperty("port")->isWritable());
    QVERIFY(m_port->tavlinProperty("address")->isWritable());
    QVERIFY(clientGone.count() == 1 || clientGone.wait(5000));
    QCOMPARE(m_port->writeByteStream("x", 1), 0);

    // The server object stays and the next open tries again; the address in
    // use by another listener makes it fail with the system's reason.
    QTcpServer other;
    QVERIFY(other.listen(QHostAddress::LocalHost));
    m_port->setTavlinProperty("port", other.serverPort());
    log.clear();
    QVERIFY(!m_port->open(Plugin_Com_Port::ReadWrite));
    QCOMPARE(log.deviceTexts(KrLog_Interface::Error),
             QStringList{QStringLiteral("Unable to start the server: %1").arg(m_port->tcpServer()->errorString())});
    QVERIFY(!m_port->tcpServer()->errorString().isEmpty());
    QVERIFY(!m_port->opened());

    other.close();
    QVERIFY(m_port->open(Plugin_Com_Port::ReadWrite));
    QCOMPARE(runningPort(log), m_port->getTavlinProperty("port").value<quint16>());
}

void tst_TcpServer::sessionOpenedAgainKeepsServer()
{
    LogCapture log;
    const quint16 chosen = listen(*m_port, log);
    QVERIFY(chosen != 0);
    QTcpServer *server = m_port->tcpServer();
    QTcpSocket client;
    QVERIFY(connectClient(client, QHostAddress::LocalHost, chosen));
    QTRY_COMPARE(countOf(log, "tcpServer: New connection"), 1);

    // The session announcing itself open once more keeps the listening
    // server and its client.
    QSignalSpy changed(m_port, &AbstractTreeItem::dataChanged);
    log.clear();
    QVERIFY(QMetaObject::invokeMethod(m_port, "sessionOpened"));
    QCOMPARE(log.texts(), QStringList{"tcpServer: Session opened"});
    QCOMPARE(changed.count(), 1);
    QCOMPARE(m_port->tcpServer(), server);
    QVERIFY(m_port->opened());
    QVERIFY(!m_port->tavlinProperty("address")->isWritable());
    QCOMPARE(m_port->writeByteStream("still", 5), 5);
    QTRY_COMPARE(client.bytesAvailable(), qint64(5));
}

QTEST_GUILESS_MAIN(tst_TcpServer)
#include "tst_tcpserver.moc"
