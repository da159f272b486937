#include "tests/TcpServerTestUtil.h"

#include <QNetworkInterface>
#include <QtTest>

using namespace TcpServerTestUtil;

// The TCP server port's properties, its server's creation, listening and
// closing, with real client sockets on loopback.
class tst_TcpServer : public TcpServerPortTest
{
    Q_OBJECT
private slots:
    void properties();
    void openCloseReopen();
    void listensOnAnyForIpv4AndIpv6();
    void openFailures();

private:
    bool writable(const char *name) const { return m_port->tavlinProperty(name)->isWritable(); }
    static QString traced(const QString &nameAndValue)
    {
        return QStringLiteral("PCom_TcpServer_Port(Server)::setTavlinProperty(%1) ").arg(nameAndValue);
    }
};

void tst_TcpServer::properties()
{
    LogCapture log;
    QSignalSpy changed(m_port, &AbstractTreeItem::dataChanged);
    m_device->deletePort(nullptr);
    // Every interface, in the system's order, down and loopback ones too.
    QStringList interfaces;
    for (const QNetworkInterface &iface : QNetworkInterface::allInterfaces())
        interfaces << iface.humanReadableName();
    QCOMPARE(m_device->availablePorts(), interfaces);
    QScopedPointer<AbstractTreeItem> other(m_port->createInstance());
    auto *otherPort = qobject_cast<PCom_TcpServer_Port *>(other.data());
    QVERIFY(otherPort && otherPort != m_port && otherPort->device() == m_device);
    QStringList records;
    for (TavlinProperty *p : m_port->tavlinProperties())
        records << p->name();
    QCOMPARE(records, (QStringList{"plugin", "port", "address", "connect"}));
    // The members do not take the records' defaults.
    QCOMPARE(m_port->getTavlinProperty("plugin"), QVariant(QStringLiteral("PCom_Core::tcpServer")));
    QCOMPARE(m_port->getTavlinProperty("port"), QVariant(0));
    QCOMPARE(m_port->getTavlinProperty("address"), QVariant(QString()));
    QCOMPARE(m_port->getTavlinProperty("connect"), QVariant(false));
    QVERIFY(!m_port->getTavlinProperty("Port").isValid());
    // Building ports, and documenting them, neither logs nor creates a server.
    QVERIFY(!m_device->getChildPropertyDoc(Version(QStringLiteral("2.12"))).isEmpty());
    QVERIFY(log.texts().isEmpty() && !m_port->tcpServer());

    // The model's write rules are the base's (tst_propertymodel); here the
    // values this port reads back and its trace line. A text holding the
    // same number compares equal.
    QCOMPARE(m_port->setTavlinProperty("port", QStringLiteral("0")), QVariant(QStringLiteral("0")));
    QCOMPARE(changed.count(), 0);
    QCOMPARE(m_port->setTavlinProperty("port", 70000), QVariant(4464));
    QCOMPARE(m_port->setTavlinProperty("port", QStringLiteral("5020")), QVariant(5020));
    QCOMPARE(m_port->setTavlinProperty("address", QStringLiteral(" any")), QVariant(QStringLiteral(" any")));
    QCOMPARE(changed.count(), 3);
    QCOMPARE(log.deviceTexts(KrLog_Interface::Trace),
             (QStringList{traced("port, 70000"), traced("port, 5020"), traced("address,  any")}));
    QCOMPARE(log.texts().size(), 3);

    // Closing a port that never opened creates nothing and logs nothing.
    log.clear();
    m_port->close();
    QCOMPARE(changed.count(), 4);
    QVERIFY(log.texts().isEmpty() && !m_port->tcpServer());
}

void tst_TcpServer::openCloseReopen()
{
    LogCapture log;
    m_port->setTavlinProperty("address", QStringLiteral("127.0.0.1"));
    log.clear();
    QSignalSpy changed(m_port, &AbstractTreeItem::dataChanged);
    QVERIFY(m_port->open(Plugin_Com_Port::ReadWrite));
    // Once when the server is created inside the open, once for the open.
    QCOMPARE(changed.count(), 2);
    QStringList expected{"tcpServer: Session opened", "tcpServer: The following server addresses are available:",
                         "tcpServer: - any"};
    for (const QHostAddress &address : QNetworkInterface::allAddresses()) {
        if (address.toIPv4Address() != 0)
            expected << QStringLiteral("tcpServer: - IPv4: %1").arg(address.toString());
    }
    QVERIFY(expected.contains(QStringLiteral("tcpServer: - IPv4: 127.0.0.1")));
    expected << QStringLiteral("tcpServer: Server running on IP 127.0.0.1, port %1").arg(runningPort(log));
    QCOMPARE(log.texts(), expected);
    QCOMPARE(log.deviceTexts(KrLog_Interface::Progress), expected);
    // The system's choice shows in the log only; "port" keeps what was written.
    QVERIFY(runningPort(log) != 0);
    QCOMPARE(m_port->getTavlinProperty("port"), QVariant(0));
    QCOMPARE(m_port->getTavlinProperty("connect"), QVariant(true));
    QVERIFY(!writable("port") && !writable("address") && writable("connect") && !writable("plugin"));

    // "connect" true while listening compares equal; a new address is stored
    // for the next open while the running server keeps its binding.
    log.clear();
    QCOMPARE(m_port->setTavlinProperty("connect", true), QVariant(true));
    QVERIFY(log.texts().isEmpty());
    QTcpServer *server = m_port->tcpServer();
    m_port->setTavlinProperty("address", QStringLiteral("127.0.0.2"));
    QCOMPARE(server->serverAddress(), QHostAddress(QHostAddress::LocalHost));

    // Closing unlocks; reopening reuses the server, without the set-up lines.
    log.clear();
    changed.clear();
    QCOMPARE(m_port->setTavlinProperty("connect", false), QVariant(false));
    QVERIFY(writable("port") && writable("address") && !writable("plugin"));
    QCOMPARE(m_port->setTavlinProperty("connect", true), QVariant(true));
    QCOMPARE(m_port->tcpServer(), server);
    QCOMPARE(log.texts(), (QStringList{traced("connect, false"), traced("connect, true"),
                                       QStringLiteral("tcpServer: Server running on IP 127.0.0.2, port %1")
                                           .arg(runningPort(log))}));
    m_port->close();
    QVERIFY(m_port->open(Plugin_Com_Port::ReadWrite));
    QCOMPARE(changed.count(), 4);
    QCOMPARE(m_port->tcpServer(), server);
    QTcpSocket client;
    QVERIFY(addClient(client, log, runningPort(log), QHostAddress(QStringLiteral("127.0.0.2"))));

    // The session announcing itself open once more keeps the listening
    // server and its client.
    log.clear();
    changed.clear();
    QVERIFY(QMetaObject::invokeMethod(m_port, "sessionOpened"));
    QCOMPARE(log.texts(), QStringList{"tcpServer: Session opened"});
    QCOMPARE(changed.count(), 1);
    QVERIFY(m_port->tcpServer() == server && m_port->opened() && !writable("address"));
    QCOMPARE(m_port->writeByteStream("still", 5), 5);
    QTRY_COMPARE(client.bytesAvailable(), qint64(5));
}

void tst_TcpServer::listensOnAnyForIpv4AndIpv6()
{
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHostIPv6))
        QSKIP("This machine has no IPv6 loopback");
    probe.close();
    LogCapture log;
    const quint16 chosen = listen(*m_port, log, QStringLiteral("any"));
    QVERIFY(log.contains(QStringLiteral("tcpServer: Server running on IP any, port %1").arg(chosen)));
    QTcpSocket v4;
    QTcpSocket v6;
    QVERIFY(addClient(v4, log, chosen, QHostAddress(QHostAddress::LocalHost)));
    QVERIFY(addClient(v6, log, chosen, QHostAddress(QHostAddress::LocalHostIPv6)));
}

void tst_TcpServer::openFailures()
{
    LogCapture log;
    QSignalSpy changed(m_port, &AbstractTreeItem::dataChanged);
    // No address: no listen is tried.
    QVERIFY(!m_port->open(Plugin_Com_Port::ReadWrite));
    QCOMPARE(log.deviceTexts(KrLog_Interface::Error), QStringList{"IP address not set"});
    QCOMPARE(m_port->getTavlinProperty("connect"), QVariant(false));
    QVERIFY(m_port->tcpServer() && !m_port->tcpServer()->isListening());
    QCOMPARE(changed.count(), 2);

    // A second open while listening fails like any other listen and stops
    // the server, releasing its client.
    QTcpSocket client;
    QVERIFY(addClient(client, log, listen(*m_port, log)));
    log.clear();
    QVERIFY(!m_port->open(Plugin_Com_Port::ReadWrite));
    const QStringList errors = log.deviceTexts(KrLog_Interface::Error);
    QVERIFY(errors.size() == 1 && errors.first().startsWith(QStringLiteral("Unable to start the server: ")));
    QCOMPARE(log.deviceTexts(KrLog_Interface::Trace),
             QStringList{"tcpServer: PCom_TcpServer_SockerOwner::~disconnectFromHost()"});
    QCOMPARE(m_port->getTavlinProperty("connect"), QVariant(false));
    QVERIFY(writable("port") && writable("address"));
    QTRY_COMPARE(client.state(), QAbstractSocket::UnconnectedState);

    // The server object stays and the next open tries again; a port that
    // another listener holds makes it fail with the system's reason.
    QTcpServer other;
    QVERIFY(other.listen(QHostAddress::LocalHost));
    m_port->setTavlinProperty("port", other.serverPort());
    log.clear();
    QVERIFY(!m_port->open(Plugin_Com_Port::ReadWrite));
    QVERIFY(!m_port->tcpServer()->errorString().isEmpty());
    QCOMPARE(log.deviceTexts(KrLog_Interface::Error),
             QStringList{QStringLiteral("Unable to start the server: %1").arg(m_port->tcpServer()->errorString())});
    other.close();
    QVERIFY(m_port->open(Plugin_Com_Port::ReadWrite));
    QCOMPARE(runningPort(log), m_port->getTavlinProperty("port").value<quint16>());
}

QTEST_GUILESS_MAIN(tst_TcpServer)
#include "tst_tcpserver.moc"
