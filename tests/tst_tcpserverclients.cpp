#include "LogCapture.h"
#include "PCom_TcpServer_Device.h"
#include "PCom_TcpServer_Port.h"
#include "TcpServerTestUtil.h"

#include <QSignalSpy>
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
class tst_TcpServerClients : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void noClientsNoTraffic();
    void twoClientsShareWritesAndReadsRelay();
    void severalClientsWithBytesAreReadOneByOne();
    void clientClosingItsEndIsReleased();
    void acceptingPausesAtEachNewClient();
    void newConnectionWithNothingPending();
    void closingPortAsksClientsToDisconnect();
    void closingWithUnsentBytesFinishesLater();
    void destroyingPortReleasesClientsSilently();
    void socketOwnerLinesAndRelease();

private:
    PCom_TcpServer_Device *m_device = nullptr;
    PCom_TcpServer_Port *m_port = nullptr;
};

void tst_TcpServerClients::init()
{
    m_device = new PCom_TcpServer_Device(nullptr, nullptr);
    m_port = static_cast<PCom_TcpServer_Port *>(m_device->createPort());
}

void tst_TcpServerClients::cleanup()
{
    m_device->deletePort(m_port);
    delete m_device;
    flushDeferredDeletes();
}

void tst_TcpServerClients::noClientsNoTraffic()
{
    LogCapture log;
    char buffer[16];
    QCOMPARE(m_port->writeByteStream("abc", 3), 0);
    QCOMPARE(m_port->readByteStream(buffer, sizeof buffer), -1);

    QVERIFY(listen(*m_port, log) != 0);
    log.clear();
    QCOMPARE(m_port->writeRawData("abc", 3), 0);
    QCOMPARE(m_port->readRawData(buffer, sizeof buffer), -1);
    QCOMPARE(m_port->writeByteStream("abc", 3), 0);
    QCOMPARE(m_port->readByteStream(buffer, sizeof buffer), -1);
    QVERIFY(log.texts().isEmpty());
}

void tst_TcpServerClients::twoClientsShareWritesAndReadsRelay()
{
    LogCapture log;
    const quint16 chosen = listen(*m_port, log);
    QVERIFY(chosen != 0);

    QSignalSpy changed(m_port, &AbstractTreeItem::dataChanged);
    QTcpSocket first;
    QTcpSocket second;
    QVERIFY(connectClient(first, QHostAddress::LocalHost, chosen));
    QTRY_COMPARE(countOf(log, "tcpServer: New connection"), 1);
    QVERIFY(connectClient(second, QHostAddress::LocalHost, chosen));
    QTRY_COMPARE(countOf(log, "tcpServer: New connection"), 2);
    QCOMPARE(changed.count(), 2);
    // Accepted sockets are connected already: no "Connected" or "Host found".
    QVERIFY(!log.contains("tcpServer: Connected"));
    QVERIFY(!log.contains("tcpServer: Host found"));

    log.clear();
    const QByteArray out("to\0all", 6);
    QCOMPARE(m_port->writeRawData(out.constData(), out.size()), out.size());
    QTRY_COMPARE(first.bytesAvailable(), qint64(out.size()));
    QTRY_COMPARE(second.bytesAvailable(), qint64(out.size()));
    QCOMPARE(first.readAll(), out);
    QCOMPARE(second.readAll(), out);
    QVERIFY(log.texts().isEmpty());

    QSignalSpy ready(m_port, &Plugin_Com_Port::readyRead);
    const QByteArray in("from the second");
    second.write(in);
    QVERIFY(ready.wait(5000));
    QByteArray got;
    char buffer[4];
    for (int round = 0; round < 50 && got.size() < in.size(); ++round) {
        if (ready.isEmpty())
            QVERIFY(ready.wait(5000));
        ready.clear();
        int n;
        while ((n = m_port->readRawData(buffer, sizeof buffer)) > 0)
            got.append(buffer, n);
        QCOMPARE(n, -1);
    }
    QCOMPARE(got, in);
    QVERIFY(log.texts().isEmpty());
}

void tst_TcpServerClients::severalClientsWithBytesAreReadOneByOne()
{
    LogCapture log;
    const quint16 chosen = listen(*m_port, log);
    QTcpSocket first;
    QTcpSocket second;
    QVERIFY(connectClient(first, QHostAddress::LocalHost, chosen));
    QTRY_COMPARE(countOf(log, "tcpServer: New connection"), 1);
    QVERIFY(connectClient(second, QHostAddress::LocalHost, chosen));
    QTRY_COMPARE(countOf(log, "tcpServer: New connection"), 2);

    // The later client's bytes arrive first; both are held when the host reads.
    second.write("22222222");
    first.write("111");
    const auto serverSide = [this] {
        qint64 held = 0;
        for (QTcpSocket *socket : m_port->tcpServer()->findChildren<QTcpSocket *>())
            held += socket->bytesAvailable();
        return held;
    };
    QTRY_COMPARE(serverSide(), qint64(11));

    // One client per read, in order of acceptance: nothing is overwritten.
    char buffer[64];
    int n = m_port->readByteStream(buffer, sizeof buffer);
    QCOMPARE(QByteArray(buffer, qMax(n, 0)), QByteArray("111"));
    n = m_port->readByteStream(buffer, 5);
    QCOMPARE(QByteArray(buffer, qMax(n, 0)), QByteArray("22222"));
    n = m_port->readByteStream(buffer, sizeof buffer);
    QCOMPARE(QByteArray(buffer, qMax(n, 0)), QByteArray("222"));
    QCOMPARE(m_port->readByteStream(buffer, sizeof buffer), -1);
}

void tst_TcpServerClients::clientClosingItsEndIsReleased()
{
    LogCapture log;
    const quint16 chosen = listen(*m_port, log);
    QTcpSocket first;
    QTcpSocket second;
    QVERIFY(connectClient(first, QHostAddress::LocalHost, chosen));
    QTRY_COMPARE(countOf(log, "tcpServer: New connection"), 1);
    QVERIFY(connectClient(second, QHostAddress::LocalHost, chosen));
    QTRY_COMPARE(countOf(log, "tcpServer: New connection"), 2);

    // Paused from outside: only the release of a client resumes accepting.
    m_port->tcpServer()->pauseAccepting();
    QCOMPARE(acceptingState(m_port->tcpServer()), 0);

    QSignalSpy changed(m_port, &AbstractTreeItem::dataChanged);
    log.clear();
    first.disconnectFromHost();
    QTRY_VERIFY(log.contains("The client closed the connection.") || log.contains("tcpServer: Disconnected"));
    QCOMPARE(log.texts().size(), 1);
    QCOMPARE(changed.count(), 1);
    QCOMPARE(acceptingState(m_port->tcpServer()), 1);
    QVERIFY(m_port->opened());

    log.clear();
    QCOMPARE(m_port->writeByteStream("rest", 4), 4);
    QTRY_COMPARE(second.bytesAvailable(), qint64(4));
    QCOMPARE(second.readAll(), QByteArray("rest"));
    QVERIFY(log.texts().isEmpty());

    QTcpSocket third;
    QVERIFY(connectClient(third, QHostAddress::LocalHost, chosen));
    QTRY_COMPARE(countOf(log, "tcpServer: New connection"), 1);

    second.abort();
    third.disconnectFromHost();
    QTRY_COMPARE(log.texts().size(), 3);
    QCOMPARE(m_port->writeByteStream("none", 4), 0);
    QVERIFY(m_port->opened());
}

void tst_TcpServerClients::acceptingPausesAtEachNewClient()
{
    AcceptingProbe probe(m_port);
    const quint16 chosen = listen(*m_port, probe);
    QCOMPARE(acceptingState(m_port->tcpServer()), 1);

    QTcpSocket first;
    QTcpSocket second;
    QVERIFY(connectClient(first, QHostAddress::LocalHost, chosen));
    QTRY_COMPARE(probe.statesAtNewConnection.size(), 1);
    QVERIFY(connectClient(second, QHostAddress::LocalHost, chosen));
    QTRY_COMPARE(probe.statesAtNewConnection.size(), 2);
    QCOMPARE(probe.statesAtNewConnection, (QList<int>{0, 0}));
    // Taking the connection over lets the server accept again.
    QCOMPARE(acceptingState(m_port->tcpServer()), 1);

    m_port->tcpServer()->pauseAccepting();
    second.disconnectFromHost();
    QTRY_COMPARE(acceptingState(m_port->tcpServer()), 1);
}

void tst_TcpServerClients::newConnectionWithNothingPending()
{
    LogCapture log;
    // Without a server there is nothing to take over.
    QVERIFY(QMetaObject::invokeMethod(m_port, "newConnection"));

    const quint16 chosen = listen(*m_port, log);
    QSignalSpy changed(m_port, &AbstractTreeItem::dataChanged);
    log.clear();
    QVERIFY(QMetaObject::invokeMethod(m_port, "newConnection"));
    QVERIFY(log.texts().isEmpty());
    QCOMPARE(changed.count(), 0);
    QCOMPARE(acceptingState(m_port->tcpServer()), 1);
    QCOMPARE(m_port->writeByteStream("x", 1), 0);

    QTcpSocket client;
    QVERIFY(connectClient(client, QHostAddress::LocalHost, chosen));
    QTRY_COMPARE(countOf(log, "tcpServer: New connection"), 1);
    QCOMPARE(m_port->writeByteStream("x", 1), 1);
}

void tst_TcpServerClients::closingPortAsksClientsToDisconnect()
{
    LogCapture log;
    const quint16 chosen = listen(*m_port, log);
    QTcpSocket first;
    QTcpSocket second;
    QVERIFY(connectClient(first, QHostAddress::LocalHost, chosen));
    QTRY_COMPARE(countOf(log, "tcpServer: New connection"), 1);
    QVERIFY(connectClient(second, QHostAddress::LocalHost, chosen));
    QTRY_COMPARE(countOf(log, "tcpServer: New connection"), 2);

    QSignalSpy changed(m_port, &AbstractTreeItem::dataChanged);
    log.clear();
    m_port->close();
    // Nothing left to send: each client is gone before the server stops.
    const QString asked = QStringLiteral("tcpServer: PCom_TcpServer_SockerOwner::~disconnectFromHost()");
    QCOMPARE(log.texts(), (QStringList{asked, "tcpServer: Disconnected", asked, "tcpServer: Disconnected"}));
    QCOMPARE(log.deviceTexts(KrLog_Interface::Trace), (QStringList{asked, asked}));
    QCOMPARE(changed.count(), 3);
    QVERIFY(!m_port->opened());
    QVERIFY(m_port->tavlinProperty("port")->isWritable());
    QCOMPARE(m_port->writeByteStream("x", 1), 0);

    QTRY_COMPARE(first.state(), QAbstractSocket::UnconnectedState);
    QTRY_COMPARE(second.state(), QAbstractSocket::UnconnectedState);

    QTcpSocket late;
    late.connectToHost(QHostAddress::LocalHost, chosen);
    QSignalSpy refused(&late, &QTcpSocket::errorOccurred);
    QVERIFY(refused.count() == 1 || refused.wait(5000));
}

void tst_TcpServerClients::closingWithUnsentBytesFinishesLater()
{
    LogCapture log;
    const quint16 chosen = listen(*m_port, log);
    QTcpSocket client;
    QVERIFY(connectClient(client, QHostAddress::LocalHost, chosen));
    QTRY_COMPARE(countOf(log, "tcpServer: New connection"), 1);

    // The bytes are still in the socket when the port closes: the socket
    // finishes sending after the server has stopped.
    log.clear();
    QCOMPARE(m_port->writeByteStream("last words", 10), 10);
    m_port->close();
    QCOMPARE(log.texts(), QStringList{"tcpServer: PCom_TcpServer_SockerOwner::~disconnectFromHost()"});
    QVERIFY(!m_port->opened());

    QSignalSpy changed(m_port, &AbstractTreeItem::dataChanged);
    QTRY_VERIFY(log.contains("tcpServer: Disconnected"));
    QCOMPARE(changed.count(), 1);
    QVERIFY(!m_port->opened());
    QTRY_COMPARE(client.bytesAvailable(), qint64(10));
    QCOMPARE(client.readAll(), QByteArray("last words"));
    QTRY_COMPARE(client.state(), QAbstractSocket::UnconnectedState);

    // Reopened, the port listens again with the same server.
    log.clear();
    QVERIFY(m_port->open(Plugin_Com_Port::ReadWrite));
    QTcpSocket next;
    QVERIFY(connectClient(next, QHostAddress::LocalHost, runningPort(log)));
    QTRY_COMPARE(countOf(log, "tcpServer: New connection"), 1);
}

void tst_TcpServerClients::destroyingPortReleasesClientsSilently()
{
    LogCapture log;
    const quint16 chosen = listen(*m_port, log);
    QTcpSocket first;
    QTcpSocket second;
    QVERIFY(connectClient(first, QHostAddress::LocalHost, chosen));
    QTRY_COMPARE(countOf(log, "tcpServer: New connection"), 1);
    QVERIFY(connectClient(second, QHostAddress::LocalHost, chosen));
    QTRY_COMPARE(countOf(log, "tcpServer: New connection"), 2);
    QCOMPARE(m_port->writeByteStream("bye", 3), 3);

    log.clear();
    m_device->deletePort(m_port);
    m_port = nullptr;
    flushDeferredDeletes();
    QTRY_COMPARE(first.state(), QAbstractSocket::UnconnectedState);
    QTRY_COMPARE(second.state(), QAbstractSocket::UnconnectedState);
    QVERIFY(log.texts().isEmpty());

    m_port = static_cast<PCom_TcpServer_Port *>(m_device->createPort());
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
    QCOMPARE(owner->socket(), socket.data());
    QVERIFY(!owner->parent());
    QSignalSpy gone(owner.data(), &PCom_TcpServer_SockerOwner::disconnected);
    QSignalSpy ready(owner.data(), &PCom_TcpServer_SockerOwner::readyRead);

    client.write("ping");
    QVERIFY(ready.wait(5000));

    QVERIFY(QMetaObject::invokeMethod(owner.data(), "onSocketConnected"));
    QVERIFY(QMetaObject::invokeMethod(owner.data(), "onHostFound"));
    QCOMPARE(log.deviceTexts(KrLog_Interface::Progress), (QStringList{"tcpServer: Connected", "tcpServer: Host found"}));
    QCOMPARE(gone.count(), 0);

    log.clear();
    const QList<QAbstractSocket::SocketError> errors{QAbstractSocket::RemoteHostClosedError,
                                                      QAbstractSocket::HostNotFoundError,
                                                      QAbstractSocket::ConnectionRefusedError,
                                                      QAbstractSocket::SocketTimeoutError};
    for (QAbstractSocket::SocketError error : errors)
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
    QVERIFY(!socket);
    QVERIFY(log.texts().isEmpty());
}

QTEST_GUILESS_MAIN(tst_TcpServerClients)
#include "tst_tcpserverclients.moc"
