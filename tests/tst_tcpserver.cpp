#include "tests/support/LogCapture.h"
#include "tcpserver/PCom_TcpServer_Device.h"
#include "tcpserver/PCom_TcpServer_Port.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QNetworkInterface>
#include <QtTest>

namespace {

// The port number of the last "Server running" line, 0 if there is none.
quint16 runningPort(const LogCapture &log)
{
    static const QRegularExpression line(QStringLiteral("^tcpServer: Server running on IP .*, port (\\d+)$"));
    const QStringList lines = log.deviceTexts(KrLog_Interface::Progress).filter(line);
    return lines.isEmpty() ? 0 : quint16(line.match(lines.last()).captured(1).toUInt());
}

// Opens the port on 127.0.0.1 and port 0; the chosen port, 0 on failure.
quint16 listen(PCom_TcpServer_Port &port, const LogCapture &log)
{
    port.setTavlinProperty(QStringLiteral("address"), QStringLiteral("127.0.0.1"));
    port.setTavlinProperty(QStringLiteral("port"), 0);
    return port.open(Plugin_Com_Port::ReadWrite) ? runningPort(log) : 0;
}

// Connects one more client and waits, bounded, until the port took it over.
bool addClient(QTcpSocket &client, const LogCapture &log, quint16 port,
               const QHostAddress &host = QHostAddress(QHostAddress::LocalHost))
{
    const auto taken = [&log] { return log.deviceTexts().count(QStringLiteral("tcpServer: New connection")); };
    const int before = taken();
    client.connectToHost(host, port);
    return client.waitForConnected(5000) && QTest::qWaitFor([&] { return taken() > before; }, 5000);
}

// Whether the server watches its listening socket for new connections:
// 1 yes, 0 paused, -1 not listening, -2 no watcher found.
int acceptingState(const QTcpServer *server)
{
    if (!server || !server->isListening())
        return -1;
    for (const QSocketNotifier *notifier : server->findChildren<QSocketNotifier *>()) {
        if (notifier->type() == QSocketNotifier::Read && notifier->socket() == server->socketDescriptor())
            return notifier->isEnabled() ? 1 : 0;
    }
    return -2;
}

// Records, at each "New connection" line, whether the server was still
// accepting: the line comes between the pause and the taking over.
struct AcceptingProbe : LogCapture {
    explicit AcceptingProbe(PCom_TcpServer_Port *port) : port(port) {}
    void log(Type type, const QString &text) override
    {
        LogCapture::log(type, text);
        if (text == QLatin1String("tcpServer: New connection"))
            states.append(acceptingState(port->tcpServer()));
    }
    PCom_TcpServer_Port *port;
    QList<int> states;
};

} // namespace

// The TCP server port: its server's creation, listening and closing, and its
// clients from acceptance to release, with real client sockets on loopback.
class tst_TcpServer : public QObject
{
    Q_OBJECT
private slots:
    // Every test function gets a new port of a new device.
    void init()
    {
        m_device = new PCom_TcpServer_Device(nullptr, nullptr);
        m_port = static_cast<PCom_TcpServer_Port *>(m_device->createPort());
    }
    void cleanup()
    {
        m_device->deletePort(m_port);
        delete m_device;
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    void openCloseReopen();
    void openFailures();
    void clients();
    void socketOwnerLines();

private:
    PCom_TcpServer_Device *m_device = nullptr;
    PCom_TcpServer_Port *m_port = nullptr;
    bool writable(const char *name) const { return m_port->tavlinProperty(name)->isWritable(); }
    static QString traced(const QString &nameAndValue)
    {
        return QStringLiteral("PCom_TcpServer_Port(Server)::setTavlinProperty(%1) ").arg(nameAndValue);
    }
};

void tst_TcpServer::openCloseReopen()
{
    LogCapture log;
    // Building and documenting ports neither logs nor creates a server. A
    // port number is cut to 16 bits; changes are traced naming the server.
    QVERIFY(!m_device->getChildPropertyDoc(Version(QStringLiteral("2.12"))).isEmpty());
    QVERIFY(log.texts().isEmpty() && !m_port->tcpServer());
    QCOMPARE(m_port->setTavlinProperty("port", 70000), QVariant(4464));
    QCOMPARE(m_port->setTavlinProperty("port", QStringLiteral("0")), QVariant(0));
    m_port->setTavlinProperty("address", QStringLiteral("127.0.0.1"));
    QCOMPARE(log.texts(), (QStringList{traced("port, 70000"), traced("port, 0"), traced("address, 127.0.0.1")}));
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

    // Destroying the port releases its client without a line.
    log.clear();
    m_device->deletePort(m_port);
    m_port = static_cast<PCom_TcpServer_Port *>(m_device->createPort());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QTRY_COMPARE(client.state(), QAbstractSocket::UnconnectedState);
    QVERIFY(log.texts().isEmpty());
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

    // Once free, the port is taken; "any" listens on IPv4 and, where the
    // machine has it, IPv6.
    other.close();
    m_port->setTavlinProperty("address", QStringLiteral("any"));
    QVERIFY(m_port->open(Plugin_Com_Port::ReadWrite));
    const quint16 chosen = m_port->getTavlinProperty("port").value<quint16>();
    QVERIFY(log.contains(QStringLiteral("tcpServer: Server running on IP any, port %1").arg(chosen)));
    QTcpSocket v4, v6;
    QVERIFY(addClient(v4, log, chosen));
    // Where the machine has IPv6: its clients too, and an address holding a
    // "%1" (a scope) is logged as written.
    QTcpServer probe;
    if (probe.listen(QHostAddress::LocalHostIPv6)) {
        QVERIFY(addClient(v6, log, chosen, QHostAddress(QHostAddress::LocalHostIPv6)));
        m_port->close();
        m_port->setTavlinProperty("address", QStringLiteral("::1%1"));
        QVERIFY(m_port->open(Plugin_Com_Port::ReadWrite));
        QVERIFY(log.contains(QStringLiteral("tcpServer: Server running on IP ::1%1, port ") + QString::number(chosen)));
    }
}

void tst_TcpServer::clients()
{
    AcceptingProbe log(m_port);
    char buffer[64];
    // Without a server, or with nothing pending, there is nothing to take over.
    QVERIFY(QMetaObject::invokeMethod(m_port, "newConnection"));
    const quint16 chosen = listen(*m_port, log);
    QSignalSpy changed(m_port, &AbstractTreeItem::dataChanged);
    log.clear();
    QVERIFY(QMetaObject::invokeMethod(m_port, "newConnection"));
    QCOMPARE(acceptingState(m_port->tcpServer()), 1);
    // Without clients: no traffic and no message.
    QCOMPARE(m_port->writeRawData("abc", 3), 0);
    QCOMPARE(m_port->readRawData(buffer, sizeof buffer), -1);
    QVERIFY(log.texts().isEmpty());
    QCOMPARE(changed.count(), 0);

    // Paused at each new connection; taking it over lets the server accept
    // again. Accepted sockets are connected already: no "Connected" line.
    QTcpSocket first, second;
    QVERIFY(addClient(first, log, chosen) && addClient(second, log, chosen));
    QCOMPARE(log.states, (QList<int>{0, 0}));
    QCOMPARE(acceptingState(m_port->tcpServer()), 1);
    QCOMPARE(changed.count(), 2);
    QCOMPARE(log.texts(), (QStringList{"tcpServer: New connection", "tcpServer: New connection"}));

    log.clear();
    QCOMPARE(m_port->writeRawData("to\0all", 6), 6);
    for (QTcpSocket *client : {&first, &second}) {
        QTRY_COMPARE(client->bytesAvailable(), qint64(6));
        QCOMPARE(client->readAll(), QByteArray("to\0all", 6));
    }

    // Both hold bytes, the later client's arrived first, each announced by
    // the port's readyRead. One client per read, in order of acceptance, so
    // nothing is overwritten; a read takes what fits.
    QSignalSpy ready(m_port, &Plugin_Com_Port::readyRead);
    second.write("22222222");
    first.write("111");
    const auto held = [this] {
        qint64 bytes = 0;
        for (QTcpSocket *socket : m_port->tcpServer()->findChildren<QTcpSocket *>())
            bytes += socket->bytesAvailable();
        return bytes;
    };
    QTRY_COMPARE(held(), qint64(11));
    QVERIFY(ready.count() >= 2);
    const QList<QPair<int, QByteArray>> reads{{64, "111"}, {5, "22222"}, {64, "222"}};
    for (const auto &read : reads) {
        const int n = m_port->readRawData(buffer, read.first);
        QCOMPARE(QByteArray(buffer, qMax(n, 0)), read.second);
    }
    QCOMPARE(m_port->readRawData(buffer, sizeof buffer), -1);
    QVERIFY(log.texts().isEmpty());

    // A client leaving is released; only that resumes accepting paused
    // from outside; further writes skip it.
    m_port->tcpServer()->pauseAccepting();
    changed.clear();
    first.disconnectFromHost();
    QTRY_VERIFY(log.contains("The client closed the connection.") || log.contains("tcpServer: Disconnected"));
    QCOMPARE(log.texts().size(), 1);
    QCOMPARE(changed.count(), 1);
    QCOMPARE(acceptingState(m_port->tcpServer()), 1);
    log.clear();
    QCOMPARE(m_port->writeByteStream("rest", 4), 4);
    QTRY_COMPARE(second.bytesAvailable(), qint64(4));
    QCOMPARE(second.readAll(), QByteArray("rest"));
    QVERIFY(log.texts().isEmpty() && m_port->opened());

    // Closing with nothing left to send: each client is gone before the
    // server stops.
    QTcpSocket third;
    QVERIFY(addClient(third, log, chosen));
    log.clear();
    changed.clear();
    m_port->close();
    const QString asked = QStringLiteral("tcpServer: PCom_TcpServer_SockerOwner::~disconnectFromHost()");
    QCOMPARE(log.texts(), (QStringList{asked, "tcpServer: Disconnected", asked, "tcpServer: Disconnected"}));
    QCOMPARE(log.deviceTexts(KrLog_Interface::Trace), (QStringList{asked, asked}));
    QCOMPARE(changed.count(), 3);
    QVERIFY(!m_port->opened());
    for (QTcpSocket *client : {&second, &third})
        QTRY_COMPARE(client->state(), QAbstractSocket::UnconnectedState);

    // Reopened, it takes clients again. Bytes still in the socket when the
    // port closes: the socket finishes sending after the server stopped.
    QVERIFY(m_port->open(Plugin_Com_Port::ReadWrite));
    QTcpSocket client;
    QVERIFY(addClient(client, log, runningPort(log)));
    log.clear();
    changed.clear();
    QCOMPARE(m_port->writeByteStream("last words", 10), 10);
    m_port->close();
    QCOMPARE(log.texts(), QStringList{asked});
    QTRY_VERIFY(log.contains("tcpServer: Disconnected"));
    QCOMPARE(changed.count(), 2);
    QVERIFY(!m_port->opened());
    QTRY_COMPARE(client.bytesAvailable(), qint64(10));
    QCOMPARE(client.readAll(), QByteArray("last words"));
    QTRY_COMPARE(client.state(), QAbstractSocket::UnconnectedState);
}

void tst_TcpServer::socketOwnerLines()
{
    QTcpServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost));
    QTcpSocket client;
    client.connectToHost(QHostAddress::LocalHost, server.serverPort());
    QVERIFY(client.waitForConnected(5000));
    QTRY_VERIFY(server.hasPendingConnections());
    QPointer<QTcpSocket> socket = server.nextPendingConnection();

    // Every error ends the connection, with its own line.
    LogCapture log;
    QScopedPointer<PCom_TcpServer_SockerOwner> owner(new PCom_TcpServer_SockerOwner(socket));
    QSignalSpy gone(owner.data(), &PCom_TcpServer_SockerOwner::disconnected);
    for (auto error : {QAbstractSocket::RemoteHostClosedError, QAbstractSocket::HostNotFoundError,
                       QAbstractSocket::ConnectionRefusedError, QAbstractSocket::SocketTimeoutError})
        QVERIFY(QMetaObject::invokeMethod(owner.data(), "displayError", Q_ARG(QAbstractSocket::SocketError, error)));
    QCOMPARE(log.deviceTexts(KrLog_Interface::Error),
             (QStringList{"The client closed the connection.",
                          "The host was not found. Please check the host name and port settings.",
                          "The connection was refused by the peer. Make sure the server is running, and that the "
                          "host name and port settings are correct.",
                          QStringLiteral("The following error occurred: %1.").arg(socket->errorString())}));
    QCOMPARE(gone.count(), 4);
    QCOMPARE(gone.first().at(0).value<PCom_TcpServer_SockerOwner *>(), owner.data());

    // Destroyed, the owner hands the socket to deferred deletion, silently.
    log.clear();
    owner.reset();
    QVERIFY(socket);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(!socket && log.texts().isEmpty());
}

QTEST_GUILESS_MAIN(tst_TcpServer)
#include "tst_tcpserver.moc"
