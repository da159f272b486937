#include "tests/TcpServerTestUtil.h"

#include <QtTest>

using namespace TcpServerTestUtil;

// Records, at each "New connection" line, whether the server was still
// accepting: the line comes between the pause and the taking over.
class AcceptingProbe : public LogCapture
{
public:
    explicit AcceptingProbe(PCom_TcpServer_Port *port) : m_port(port) {}

    void log(Type type, const QString &text) override
    {
        LogCapture::log(type, text);
        if (text == QLatin1String("tcpServer: New connection"))
            statesAtNewConnection.append(acceptingState(m_port->tcpServer()));
    }

    QList<int> statesAtNewConnection;

private:
    PCom_TcpServer_Port *m_port;
};

// The TCP server port's clients: taking them over, writing to and reading
// from them, and releasing them, with real client sockets on loopback.
class tst_TcpServerClients : public TcpServerPortTest
{
    Q_OBJECT
private slots:
    void twoClients();
    void closing();
    void socketOwnerLinesAndRelease();
};

// Two clients from acceptance to release.
void tst_TcpServerClients::twoClients()
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
    QTcpSocket first;
    QTcpSocket second;
    QVERIFY(addClient(first, log, chosen));
    QVERIFY(addClient(second, log, chosen));
    QCOMPARE(log.statesAtNewConnection, (QList<int>{0, 0}));
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

    // Destroying the port releases the remaining client without a line.
    m_device->deletePort(m_port);
    m_port = static_cast<PCom_TcpServer_Port *>(m_device->createPort());
    flushDeferredDeletes();
    QTRY_COMPARE(second.state(), QAbstractSocket::UnconnectedState);
    QVERIFY(log.texts().isEmpty());
}

void tst_TcpServerClients::closing()
{
    LogCapture log;
    const quint16 chosen = listen(*m_port, log);
    QTcpSocket first;
    QTcpSocket second;
    QVERIFY(addClient(first, log, chosen));
    QVERIFY(addClient(second, log, chosen));

    QSignalSpy changed(m_port, &AbstractTreeItem::dataChanged);
    log.clear();
    m_port->close();
    // Nothing left to send: each client is gone before the server stops.
    const QString asked = QStringLiteral("tcpServer: PCom_TcpServer_SockerOwner::~disconnectFromHost()");
    QCOMPARE(log.texts(), (QStringList{asked, "tcpServer: Disconnected", asked, "tcpServer: Disconnected"}));
    QCOMPARE(log.deviceTexts(KrLog_Interface::Trace), (QStringList{asked, asked}));
    QCOMPARE(changed.count(), 3);
    QVERIFY(!m_port->opened());
    for (QTcpSocket *client : {&first, &second})
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

void tst_TcpServerClients::socketOwnerLinesAndRelease()
{
    QTcpServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost));
    QTcpSocket client;
    QVERIFY(connectClient(client, QHostAddress::LocalHost, server.serverPort()));
    QTRY_VERIFY(server.hasPendingConnections());
    QPointer<QTcpSocket> socket = server.nextPendingConnection();

    LogCapture log;
    QScopedPointer<PCom_TcpServer_SockerOwner> owner(new PCom_TcpServer_SockerOwner(socket));
    QSignalSpy gone(owner.data(), &PCom_TcpServer_SockerOwner::disconnected);
    QSignalSpy ready(owner.data(), &PCom_TcpServer_SockerOwner::readyRead);
    client.write("ping");
    QVERIFY(ready.wait(5000));

    // Every error ends the connection.
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
    for (const QList<QVariant> &arguments : gone)
        QCOMPARE(arguments.at(0).value<PCom_TcpServer_SockerOwner *>(), owner.data());

    // Asked to disconnect, the socket finishes at once; the owner reports it.
    log.clear();
    owner->disconnectFromHost();
    QCOMPARE(log.texts(), (QStringList{"tcpServer: PCom_TcpServer_SockerOwner::~disconnectFromHost()",
                                       "tcpServer: Disconnected"}));
    QCOMPARE(gone.count(), 5);

    // Destroyed, the owner hands the socket to deferred deletion, silently.
    log.clear();
    owner.reset();
    QVERIFY(socket);
    flushDeferredDeletes();
    QVERIFY(!socket && log.texts().isEmpty());
}

QTEST_GUILESS_MAIN(tst_TcpServerClients)
#include "tst_tcpserverclients.moc"
