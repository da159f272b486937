#include "tests/stress/Duplex.h"
#include "tests/stress/EventWait.h"
#include "tests/support/LogCapture.h"
#include "tcpclient/PCom_TcpClient_Device.h"
#include "tcpclient/PCom_TcpClient_Port.h"
#include "tcpserver/PCom_TcpServer_Device.h"
#include "tcpserver/PCom_TcpServer_Port.h"
#include "tests/stress/ProcStats.h"
#include "tests/stress/StressReport.h"
#include "tests/stress/StressScale.h"
#include "tests/TcpServerTestUtil.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QtTest>

#include <memory>
#include <vector>

#include <sys/socket.h>

using namespace TcpServerTestUtil;

namespace {
const QString kNewConnection = QStringLiteral("tcpServer: New connection");
const QString kDisconnected = QStringLiteral("tcpServer: Disconnected");
const QString kClientClosed = QStringLiteral("The client closed the connection.");
const QString kAsked = QStringLiteral("tcpServer: PCom_TcpServer_SockerOwner::~disconnectFromHost()");
const QString kClientConnected = QStringLiteral("tcpClient: Connected");
const QString kClientDisconnected = QStringLiteral("tcpClient: Disconnected");
const QString kServerClosed = QStringLiteral("The server closed the connection.");

// Makes the next close of the socket send a reset instead of an orderly end.
bool resetOnClose(const QAbstractSocket &socket)
{
    const linger hard{1, 0};
    return ::setsockopt(int(socket.socketDescriptor()), SOL_SOCKET, SO_LINGER, &hard, sizeof hard) == 0;
}

// Client sockets that the server handed out and that are still alive.
int liveServerSockets(PCom_TcpServer_Port *port)
{
    flushDeferredDeletes();
    return port->tcpServer() ? port->tcpServer()->findChildren<QTcpSocket *>().size() : 0;
}

// Clients the port let go: an end of the peer shows as a socket error (the
// remote close) or as a disconnection, and either releases the client.
int releases(const LogCapture &log)
{
    return countOf(log, kClientClosed) + countOf(log, kDisconnected);
}

QString mib(qint64 bytes)
{
    return QStringLiteral("%1 MiB").arg(double(bytes) / StressScale::MiB, 0, 'f', 1);
}

// The port answers a new client both ways, as after any fault.
void checkUsable(PCom_TcpServer_Port *port, LogCapture &log, quint16 chosen)
{
    const int accepted = countOf(log, kNewConnection);
    QTcpSocket client;
    QVERIFY(connectClient(client, QHostAddress::LocalHost, chosen));
    QTRY_COMPARE(countOf(log, kNewConnection), accepted + 1);
    Duplex link(99, StressScale::MiB, LinkEnd::device(&client), LinkEnd::port(port));
    QVERIFY(waitUntil([&] { return link.finished(); }, 30000));
    link.check(StressScale::MiB);
}

// Opens the TCP client port on a loopback server and waits until it is
// connected.
bool connectClientPort(PCom_TcpClient_Port *client, quint16 serverPort, const LogCapture &log)
{
    const int connected = log.qtTexts().count(kClientConnected);
    client->setTavlinProperty(QStringLiteral("address"), QStringLiteral("127.0.0.1"));
    client->setTavlinProperty(QStringLiteral("port"), serverPort);
    return client->setTavlinProperty(QStringLiteral("connect"), true) == QVariant(true)
           && waitUntil([&] { return log.qtTexts().count(kClientConnected) > connected; }, 10000);
}

// Sockets that a test server accepted.
QTcpSocket *accepted(QTcpServer &server)
{
    QTcpSocket *socket = nullptr;
    waitUntil([&] { return (socket = server.nextPendingConnection()) != nullptr; }, 10000);
    return socket;
}

// The client port's link is over: released, unlocked, "connect" false.
void checkClientClosed(PCom_TcpClient_Port *client)
{
    QVERIFY(!client->opened());
    QCOMPARE(client->getTavlinProperty("connect"), QVariant(false));
    QVERIFY(client->tavlinProperty("address")->isWritable());
    QVERIFY(client->tavlinProperty("port")->isWritable());
    char buffer[4];
    QCOMPARE(client->writeRawData("x", 1), 0);
    QCOMPARE(client->readRawData(buffer, sizeof buffer), -1);
}

// The client port, opened again, talks both ways with a new server.
void checkClientUsable(PCom_TcpClient_Port *client, LogCapture &log)
{
    QTcpServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost, 0));
    QVERIFY(connectClientPort(client, server.serverPort(), log));
    QTcpSocket *peer = accepted(server);
    QVERIFY(peer);
    Duplex link(98, StressScale::MiB, LinkEnd::port(client), LinkEnd::device(peer));
    QVERIFY(waitUntil([&] { return link.finished(); }, 30000));
    link.check(StressScale::MiB);
    QCOMPARE(client->setTavlinProperty("connect", false), QVariant(false));
}
}

// The TCP ports under load and faults: the client port against the server
// port, each against loopback sockets of the test, and against a peer
// process that the test kills.
class tst_StressTcp : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void integrityClientPortToServerPort();
    void serverResetsClientPortMidTransfer();
    void clientResetsServerPortMidTransfer();
    void serverProcessKilledUnderClientPort();
    void clientProcessKilledUnderServerPort();
    void closedWithFiftyClients();
    void destroyedWithFiftyClients();
    void thousandsOfConnections();

private:
    PCom_TcpServer_Device *m_device = nullptr;
    PCom_TcpServer_Port *m_port = nullptr;
    PCom_TcpClient_Device *m_clientDevice = nullptr;
    PCom_TcpClient_Port *m_client = nullptr;
};

void tst_StressTcp::init()
{
    m_device = new PCom_TcpServer_Device(nullptr, nullptr);
    m_port = static_cast<PCom_TcpServer_Port *>(m_device->createPort());
    m_clientDevice = new PCom_TcpClient_Device(nullptr, nullptr);
    m_client = static_cast<PCom_TcpClient_Port *>(m_clientDevice->createPort());
}

void tst_StressTcp::cleanup()
{
    m_clientDevice->deletePort(m_client);
    delete m_clientDevice;
    m_device->deletePort(m_port);
    delete m_device;
    flushDeferredDeletes();
}

void tst_StressTcp::integrityClientPortToServerPort()
{
    LogCapture log;
    const quint16 chosen = listen(*m_port, log);
    QVERIFY(chosen != 0);
    QVERIFY(connectClientPort(m_client, chosen, log));
    QTRY_COMPARE(countOf(log, kNewConnection), 1);
    log.clear();

    QElapsedTimer timer;
    timer.start();
    Duplex link(1, StressScale::tcpBytes, LinkEnd::port(m_client), LinkEnd::port(m_port));
    QVERIFY(waitUntil([&] { return link.finished(); }, StressScale::transferTimeoutMs));
    const qint64 ms = timer.elapsed();
    link.check(StressScale::tcpBytes);
    // Not a short write, not a socket error, nothing.
    QCOMPARE(log.texts(), QStringList());
    QCOMPARE(m_port->getTavlinProperty("connect"), QVariant(true));
    QCOMPARE(m_client->getTavlinProperty("connect"), QVariant(true));

    // The client ends the link: both sides let go.
    QCOMPARE(m_client->setTavlinProperty("connect", false), QVariant(false));
    QVERIFY(waitUntil([&] { return releases(log) == 1 && !m_client->opened(); }, 10000));
    QCOMPARE(log.qtTexts(QtInfoMsg), QStringList{kClientDisconnected});
    QCOMPARE(liveServerSockets(m_port), 0);
    stressReport(QStringLiteral("tcp: %1 each way between the client port and the server port in %2 ms, checksums equal")
                     .arg(mib(StressScale::tcpBytes)).arg(ms));
}

void tst_StressTcp::serverResetsClientPortMidTransfer()
{
    QTcpServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost, 0));
    LogCapture log;
    QVERIFY(connectClientPort(m_client, server.serverPort(), log));
    std::unique_ptr<QTcpSocket> peer(accepted(server));
    QVERIFY(peer);
    log.clear();

    {
        Duplex link(4, std::numeric_limits<qint64>::max() / 2, LinkEnd::port(m_client), LinkEnd::device(peer.get()));
        QVERIFY(waitUntil([&] { return link.up.receivedCount() > 4 * StressScale::MiB
                                       && link.down.receivedCount() > 4 * StressScale::MiB; },
                          30000));
        QCOMPARE(link.up.firstMismatch(), qint64(-1));
        QCOMPARE(link.down.firstMismatch(), qint64(-1));
        QVERIFY(resetOnClose(*peer));
        peer->abort();
        QVERIFY(waitUntil([&] { return !m_client->opened(); }, 10000));
        QCOMPARE(link.down.firstMismatch(), qint64(-1));
        peer.reset();
    }

    // The reset ends the link: the error, then the release.
    QCOMPARE(log.qtTexts(QtCriticalMsg), QStringList{kServerClosed});
    QCOMPARE(log.qtTexts(QtInfoMsg), QStringList{kClientDisconnected});
    checkClientClosed(m_client);
    checkClientUsable(m_client, log);
    stressReport(QStringLiteral("tcp: server reset (SO_LINGER 0) under the client port mid-transfer: closed, reopened, usable"));
}

void tst_StressTcp::clientResetsServerPortMidTransfer()
{
    LogCapture log;
    const quint16 chosen = listen(*m_port, log);
    QVERIFY(chosen != 0);
    auto client = std::make_unique<QTcpSocket>();
    QVERIFY(connectClient(*client, QHostAddress::LocalHost, chosen));
    QTRY_COMPARE(countOf(log, kNewConnection), 1);
    log.clear();

    {
        // Endless both ways; the reset comes once a few MiB went each way.
        Duplex link(2, std::numeric_limits<qint64>::max() / 2, LinkEnd::device(client.get()), LinkEnd::port(m_port));
        QVERIFY(waitUntil([&] { return link.up.receivedCount() > 4 * StressScale::MiB
                                       && link.down.receivedCount() > 4 * StressScale::MiB; },
                          30000));
        QVERIFY(!link.up.failed());
        QVERIFY(!link.down.failed());
        QCOMPARE(link.up.firstMismatch(), qint64(-1));
        QCOMPARE(link.down.firstMismatch(), qint64(-1));

        QVERIFY(resetOnClose(*client));
        client->abort();
        QVERIFY(waitUntil([&] { return releases(log) == 1; }, 10000));
        client.reset();
    }

    // The reset ends that client and nothing else: the error line, no
    // disconnection chain, and the server goes on listening.
    QCOMPARE(log.deviceTexts(KrLog_Interface::Error), QStringList{kClientClosed});
    QCOMPARE(countOf(log, kDisconnected), 0);
    QCOMPARE(liveServerSockets(m_port), 0);
    QCOMPARE(m_port->getTavlinProperty("connect"), QVariant(true));
    QVERIFY(m_port->opened());
    QVERIFY(!m_port->tavlinProperty("port")->isWritable());
    QCOMPARE(acceptingState(m_port->tcpServer()), 1);
    QCOMPARE(m_port->writeRawData("x", 1), 0);
    checkUsable(m_port, log, chosen);
    stressReport(QStringLiteral("tcp: client reset (SO_LINGER 0) under the server port mid-transfer: released, port still listening"));
}

void tst_StressTcp::clientProcessKilledUnderServerPort()
{
    LogCapture log;
    const quint16 chosen = listen(*m_port, log);
    QVERIFY(chosen != 0);

    QProcess peer;
    peer.start(QStringLiteral(PCOM_STRESS_PEER), {QStringLiteral("tcp-connect"), QString::number(chosen), QStringLiteral("3")});
    QVERIFY2(peer.waitForStarted(10000), qPrintable(peer.errorString()));
    QTRY_COMPARE_WITH_TIMEOUT(countOf(log, kNewConnection), 1, 10000);

    // The peer streams its side without end; the port streams to it.
    StreamTransfer fromPeer(3, std::numeric_limits<qint64>::max() / 2,
                            [](const char *, int) { return qint64(0); },
                            [this](char *buffer, int size) { return qint64(m_port->readRawData(buffer, size)); });
    connect(m_port, &Plugin_Com_Port::readyRead, &fromPeer, &StreamTransfer::pump);
    const QByteArray out(64 << 10, 'k');
    QVERIFY(waitUntil([&] {
        const auto sockets = m_port->tcpServer()->findChildren<QTcpSocket *>();
        if (sockets.size() == 1 && sockets.first()->bytesToWrite() < StressScale::MiB)
            m_port->writeRawData(out.constData(), out.size());
        return fromPeer.receivedCount() > 8 * StressScale::MiB || fromPeer.failed();
    }, 30000));
    QCOMPARE(fromPeer.firstMismatch(), qint64(-1));

    peer.kill();
    QVERIFY(peer.waitForFinished(10000));
    QCOMPARE(peer.exitStatus(), QProcess::CrashExit);
    QVERIFY(waitUntil([&] { return releases(log) == 1; }, 10000));
    QCOMPARE(fromPeer.firstMismatch(), qint64(-1));
    disconnect(m_port, nullptr, &fromPeer, nullptr);

    // What the peer sent before it died arrived intact; its end released the
    // client, once, and the port listens on.
    QCOMPARE(log.deviceTexts(KrLog_Interface::Error).size() + countOf(log, kDisconnected), 1);
    QCOMPARE(liveServerSockets(m_port), 0);
    QCOMPARE(m_port->getTavlinProperty("connect"), QVariant(true));
    QCOMPARE(acceptingState(m_port->tcpServer()), 1);
    checkUsable(m_port, log, chosen);
    stressReport(QStringLiteral("tcp: client process killed (SIGKILL) under the server port after %1 from it: released, port still listening")
                     .arg(mib(fromPeer.receivedCount())));
}

void tst_StressTcp::serverProcessKilledUnderClientPort()
{
    QProcess peer;
    peer.start(QStringLiteral(PCOM_STRESS_PEER), {QStringLiteral("tcp-serve"), QStringLiteral("6")});
    QVERIFY2(peer.waitForStarted(10000), qPrintable(peer.errorString()));
    QVERIFY(peer.waitForReadyRead(10000));
    const QByteArray line = peer.readLine().trimmed();
    QVERIFY(line.startsWith("port "));
    LogCapture log;
    QVERIFY(connectClientPort(m_client, quint16(line.mid(5).toUInt()), log));
    log.clear();

    // The peer streams without end; the client port writes to it as well.
    StreamTransfer fromPeer(6, std::numeric_limits<qint64>::max() / 2,
                            [this](const char *data, int size) { return qint64(m_client->writeRawData(data, size)); },
                            [this](char *buffer, int size) { return qint64(m_client->readRawData(buffer, size)); });
    connect(m_client, &Plugin_Com_Port::readyRead, &fromPeer, &StreamTransfer::pump);
    QVERIFY(waitUntil([&] { return fromPeer.receivedCount() > 8 * StressScale::MiB || fromPeer.failed(); }, 30000));
    QCOMPARE(fromPeer.firstMismatch(), qint64(-1));

    peer.kill();
    QVERIFY(peer.waitForFinished(10000));
    QCOMPARE(peer.exitStatus(), QProcess::CrashExit);
    QVERIFY(waitUntil([&] { return !m_client->opened(); }, 10000));
    disconnect(m_client, nullptr, &fromPeer, nullptr);
    QCOMPARE(fromPeer.firstMismatch(), qint64(-1));

    // One error line for the end of the peer, then the release.
    QCOMPARE(log.qtTexts(QtCriticalMsg).size(), 1);
    QCOMPARE(log.qtTexts(QtInfoMsg), QStringList{kClientDisconnected});
    checkClientClosed(m_client);
    checkClientUsable(m_client, log);
    stressReport(QStringLiteral("tcp: server process killed (SIGKILL) under the client port after %1 from it (\"%2\"): closed, reopened, usable")
                     .arg(mib(fromPeer.receivedCount()), log.qtTexts(QtCriticalMsg).value(0)));
}

void tst_StressTcp::closedWithFiftyClients()
{
    const int fds = ProcStats::openFileDescriptors();
    LogCapture log;
    const quint16 chosen = listen(*m_port, log);
    QVERIFY(chosen != 0);
    std::vector<std::unique_ptr<QTcpSocket>> clients;
    for (int i = 0; i < 50; ++i) {
        clients.push_back(std::make_unique<QTcpSocket>());
        clients.back()->connectToHost(QHostAddress::LocalHost, chosen);
    }
    QVERIFY(waitUntil([&] { return countOf(log, kNewConnection) == 50; }, 20000));
    log.clear();

    // Bytes still queued when the port closes reach every client all the
    // same: a close asks each client to disconnect once its bytes are out.
    const QByteArray last = StressStream(5).chunk(0, 256 << 10);
    QCOMPARE(m_port->writeRawData(last.constData(), last.size()), last.size());
    QSignalSpy changed(m_port, &AbstractTreeItem::dataChanged);
    QCOMPARE(m_port->setTavlinProperty("connect", false), QVariant(false));
    QVERIFY(!m_port->opened());
    QVERIFY(m_port->tavlinProperty("port")->isWritable());
    QVERIFY(m_port->tavlinProperty("address")->isWritable());
    QCOMPARE(countOf(log, kAsked), 50);

    std::vector<QByteArray> got(clients.size());
    QVERIFY(waitUntil([&] {
        bool all = true;
        for (size_t i = 0; i < clients.size(); ++i) {
            got[i] += clients[i]->readAll();
            all = all && clients[i]->state() == QAbstractSocket::UnconnectedState;
        }
        return all && releases(log) == 50;
    }, 30000));
    for (size_t i = 0; i < clients.size(); ++i) {
        got[i] += clients[i]->readAll();
        QCOMPARE(got[i].size(), last.size());
        QVERIFY(got[i] == last);
    }
    QCOMPARE(countOf(log, kDisconnected), 50);
    QCOMPARE(log.deviceTexts(KrLog_Interface::Error), QStringList());
    QCOMPARE(liveServerSockets(m_port), 0);
    QCOMPARE(m_port->getTavlinProperty("connect"), QVariant(false));
    QVERIFY(changed.count() >= 1);

    // Reopened, the same port listens and serves again.
    const quint16 again = listen(*m_port, log);
    QVERIFY(again != 0);
    QCOMPARE(m_port->getTavlinProperty("connect"), QVariant(true));
    checkUsable(m_port, log, again);

    // Then destroyed with nothing left behind.
    clients.clear();
    m_device->deletePort(m_port);
    m_port = static_cast<PCom_TcpServer_Port *>(m_device->createPort());
    flushDeferredDeletes();
    QCOMPARE(ProcStats::openFileDescriptors(), fds);
    stressReport(QStringLiteral("tcp: server port closed with 50 clients: 256 KiB still queued reached each of them"));
}

void tst_StressTcp::destroyedWithFiftyClients()
{
    const int fds = ProcStats::openFileDescriptors();
    LogCapture log;
    const quint16 chosen = listen(*m_port, log);
    QVERIFY(chosen != 0);
    std::vector<std::unique_ptr<QTcpSocket>> clients;
    for (int i = 0; i < 50; ++i) {
        clients.push_back(std::make_unique<QTcpSocket>());
        clients.back()->connectToHost(QHostAddress::LocalHost, chosen);
    }
    QVERIFY(waitUntil([&] { return countOf(log, kNewConnection) == 50; }, 20000));
    const QByteArray out(4096, 'd');
    QCOMPARE(m_port->writeRawData(out.constData(), out.size()), out.size());
    log.clear();

    // Destroyed while listening: every client goes, silently.
    m_device->deletePort(m_port);
    m_port = nullptr;
    QVERIFY(waitUntil([&] {
        for (const auto &client : clients) {
            client->readAll();
            if (client->state() != QAbstractSocket::UnconnectedState)
                return false;
        }
        return true;
    }, 20000));
    QCOMPARE(log.texts(), QStringList());

    // A new port of the same device takes the place.
    m_port = static_cast<PCom_TcpServer_Port *>(m_device->createPort());
    const quint16 again = listen(*m_port, log);
    QVERIFY(again != 0);
    checkUsable(m_port, log, again);
    clients.clear();
    m_port->close();
    QVERIFY(waitUntil([&] { return liveServerSockets(m_port) == 0; }, 10000));
    QCOMPARE(ProcStats::openFileDescriptors(), fds);
    stressReport(QStringLiteral("tcp: server port destroyed with 50 clients: all of them ended, nothing logged"));
}

// Clients come in waves of 50; each takes one message from the port and
// ends, half with an orderly close and half with a reset.
void tst_StressTcp::thousandsOfConnections()
{
    LogCapture log;
    const quint16 chosen = listen(*m_port, log);
    QVERIFY(chosen != 0);
    flushDeferredDeletes();
    const int fds = ProcStats::openFileDescriptors();

    QElapsedTimer timer;
    timer.start();
    const int wave = 50;
    int made = 0;
    for (int round = 0; made < StressScale::connections && round < StressScale::connections; ++round) {
        std::vector<std::unique_ptr<QTcpSocket>> clients;
        for (int i = 0; i < wave && made < StressScale::connections; ++i, ++made) {
            clients.push_back(std::make_unique<QTcpSocket>());
            clients.back()->connectToHost(QHostAddress::LocalHost, chosen);
        }
        QVERIFY(waitUntil([&] { return countOf(log, kNewConnection) == made; }, 20000));
        const QByteArray message = QByteArray::number(round).rightJustified(8, '0');
        QCOMPARE(m_port->writeRawData(message.constData(), message.size()), message.size());
        QVERIFY(waitUntil([&] {
            for (const auto &client : clients) {
                if (client->bytesAvailable() < message.size())
                    return false;
            }
            return true;
        }, 20000));
        for (size_t i = 0; i < clients.size(); ++i) {
            QCOMPARE(clients[i]->readAll(), message);
            if (i % 2) {
                QVERIFY(resetOnClose(*clients[i]));
                clients[i]->abort();
            } else {
                clients[i]->disconnectFromHost();
            }
        }
        QVERIFY(waitUntil([&] { return releases(log) == made; }, 20000));
        QCOMPARE(liveServerSockets(m_port), 0);
    }
    const qint64 ms = timer.elapsed();

    QCOMPARE(made, StressScale::connections);
    QCOMPARE(countOf(log, kNewConnection), made);
    QCOMPARE(releases(log), made);
    // Every end was a remote close; no other error.
    QCOMPARE(log.deviceTexts(KrLog_Interface::Error).size(), countOf(log, kClientClosed));
    QCOMPARE(m_port->getTavlinProperty("connect"), QVariant(true));
    QCOMPARE(acceptingState(m_port->tcpServer()), 1);
    QCOMPARE(m_port->writeRawData("x", 1), 0);
    QCOMPARE(ProcStats::openFileDescriptors(), fds);
    checkUsable(m_port, log, chosen);
    stressReport(QStringLiteral("tcp: %1 client connections opened and closed against one server port in %2 ms")
                     .arg(made).arg(ms));
}

QTEST_GUILESS_MAIN(tst_StressTcp)
#include "tst_stress_tcp.moc"
