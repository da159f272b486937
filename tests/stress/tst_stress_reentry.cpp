#include "tests/stress/EventWait.h"
#include "tests/support/LogCapture.h"
#include "canbus/PCom_CanBus_Device.h"
#include "canbus/PCom_CanBus_Port.h"
#include "serial/PCom_Com_Device.h"
#include "serial/PCom_Com_Port.h"
#include "tcpclient/PCom_TcpClient_Device.h"
#include "tcpclient/PCom_TcpClient_Port.h"
#include "tcpserver/PCom_TcpServer_Device.h"
#include "tcpserver/PCom_TcpServer_Port.h"
#include "udpclient/PCom_UdpClient_Device.h"
#include "udpclient/PCom_UdpClient_Port.h"
#include "tests/support/PseudoTerminal.h"
#include "tests/stress/StressReport.h"

#include <QCanBus>
#include <QLoggingCategory>
#include <QNetworkDatagram>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUdpSocket>
#include <QtTest>

#include <functional>
#include <memory>

namespace {

// A host that closes the port from its readyRead() handler, the first time
// it hears from it, while the peer keeps sending: half the time through
// close(), half through "connect". Returns how often the handler ran.
class ClosingHost
{
public:
    ClosingHost(Plugin_Com_Port *port, bool byProperty) : m_port(port)
    {
        m_connection = QObject::connect(port, &Plugin_Com_Port::readyRead, port, [this, byProperty] {
            ++m_calls;
            if (m_closed)
                return;
            char buffer[64];
            unsigned int frameId = 0;
            if (m_port->usesFrameIds())
                m_port->readRawData(buffer, sizeof buffer, &frameId);
            else
                m_port->readRawData(buffer, sizeof buffer);
            m_closed = true;
            if (byProperty)
                m_port->setTavlinProperty(QStringLiteral("connect"), false);
            else
                m_port->close();
        });
    }
    ~ClosingHost() { QObject::disconnect(m_connection); }

    bool closed() const { return m_closed; }

private:
    Plugin_Com_Port *m_port;
    QMetaObject::Connection m_connection;
    int m_calls = 0;
    bool m_closed = false;
};

// Runs the loop until `done`, then a few more wake-ups, so that whatever
// the close left running (the rest of a burst, deferred deletions) runs too.
bool settleAfter(const std::function<bool()> &done)
{
    if (!waitUntil(done, 10000))
        return false;
    int rounds = 0;
    return waitUntil([&] { return ++rounds > 10; }, 10000);
}

// Reads what is there now; a frame counts as one byte at least.
int readNow(Plugin_Com_Port *port)
{
    char buffer[4096];
    unsigned int frameId = 0;
    int got = 0;
    for (int round = 0; round < 1000; ++round) {
        const int n = port->usesFrameIds() ? port->readRawData(buffer, sizeof buffer, &frameId)
                                           : port->readRawData(buffer, sizeof buffer);
        if (n < 0 || (n == 0 && !port->usesFrameIds()))
            break;
        got += qMax(n, 1);
    }
    return got;
}

// Reads what arrives until `bytes` came or time is up.
int readSome(Plugin_Com_Port *port, int bytes)
{
    int got = 0;
    waitUntil([&] {
        got += readNow(port);
        return got >= bytes;
    }, 10000);
    return got;
}

quint16 freeLoopbackPort()
{
    QTcpServer probe;
    return probe.listen(QHostAddress::LocalHost, 0) ? probe.serverPort() : 0;
}
}

// Every kind of port closed by the host from inside its own readyRead()
// handler, with more data on its way: the port must not release the Qt
// object that is still emitting, must read closed afterwards, and must work
// again once reopened.
class tst_StressReentry : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void serial_data();
    void serial();
    void can_data();
    void can();
    void tcpServer_data();
    void tcpServer();
    void tcpClient_data();
    void tcpClient();
    void udpClient_data();
    void udpClient();

private:
    void byWhich();
    // virtualcan runs one relay per process, on the port of the first
    // interface opened: every CAN test here uses that one.
    quint16 m_relayPort = 0;
};

void tst_StressReentry::initTestCase()
{
    QLoggingCategory::setFilterRules(QStringLiteral("qt.canbus.plugins.virtualcan.info=false"));
    m_relayPort = freeLoopbackPort();
    QVERIFY(m_relayPort != 0);
}

void tst_StressReentry::byWhich()
{
    QTest::addColumn<bool>("byProperty");
    QTest::newRow("close()") << false;
    QTest::newRow("connect=false") << true;
}

void tst_StressReentry::serial_data()
{
    byWhich();
}

void tst_StressReentry::serial()
{
    QFETCH(bool, byProperty);
    PseudoTerminal pty;
    QVERIFY(pty.isValid());
    PCom_Com_Device device(nullptr, nullptr);
    QScopedPointer<PCom_Com_Port> port(static_cast<PCom_Com_Port *>(device.createPort()));
    port->setTavlinProperty(QStringLiteral("device"), pty.slavePath());
    LogCapture log;
    QVERIFY(port->open(Plugin_Com_Port::ReadWrite));
    {
        ClosingHost host(port.data(), byProperty);
        QVERIFY(pty.writeMaster(QByteArray(4096, 's')));
        QVERIFY(settleAfter([&] { return host.closed(); }));
    }
    QCOMPARE(port->getTavlinProperty("connect"), QVariant(false));
    QVERIFY(port->tavlinProperty("device")->isWritable());
    QCOMPARE(log.deviceTexts(KrLog_Interface::Error), QStringList());

    QVERIFY(port->open(Plugin_Com_Port::ReadWrite));
    // What the line still held from before may come first.
    QVERIFY(pty.writeMaster(QByteArray(100, 't')));
    QVERIFY(readSome(port.data(), 100) >= 100);
}

void tst_StressReentry::can_data()
{
    byWhich();
}

void tst_StressReentry::can()
{
    QFETCH(bool, byProperty);
    const QString url = QStringLiteral("tcp://127.0.0.1:%1/can0").arg(m_relayPort);
    PCom_CanBus_Device device(nullptr, nullptr);
    QVERIFY(device.setCanPlugin(QStringLiteral("virtualcan")));
    QScopedPointer<PCom_CanBus_Port> peer(static_cast<PCom_CanBus_Port *>(device.createPort()));
    QScopedPointer<PCom_CanBus_Port> port(static_cast<PCom_CanBus_Port *>(device.createPort()));
    peer->setTavlinProperty(QStringLiteral("device"), url);
    port->setTavlinProperty(QStringLiteral("device"), url);
    LogCapture log;
    QVERIFY(peer->open(Plugin_Com_Port::ReadWrite));
    QVERIFY(port->open(Plugin_Com_Port::ReadWrite));
    // Both on the bus: a frame of the peer reaches the port.
    QVERIFY(waitUntil([&] {
        peer->writeRawData("p", 1, 0x7FF);
        return readNow(port.data()) > 0;
    }, 10000));
    {
        ClosingHost host(port.data(), byProperty);
        // Frames arrive in bursts, several per announcement.
        for (int i = 0; i < 500; ++i)
            QCOMPARE(peer->writeRawData("12345678", 8, unsigned(i)), 8);
        QVERIFY(settleAfter([&] { return host.closed(); }));
    }
    QCOMPARE(port->getTavlinProperty("connect"), QVariant(false));
    QVERIFY(port->tavlinProperty("device")->isWritable());
    QCOMPARE(log.deviceTexts(KrLog_Interface::Error), QStringList());

    QVERIFY(port->open(Plugin_Com_Port::ReadWrite));
    QVERIFY(waitUntil([&] {
        peer->writeRawData("again", 5, 0x100);
        return readNow(port.data()) > 0;
    }, 10000));
}

void tst_StressReentry::tcpServer_data()
{
    byWhich();
}

void tst_StressReentry::tcpServer()
{
    QFETCH(bool, byProperty);
    PCom_TcpServer_Device device(nullptr, nullptr);
    QScopedPointer<PCom_TcpServer_Port> port(static_cast<PCom_TcpServer_Port *>(device.createPort()));
    LogCapture log;
    port->setTavlinProperty(QStringLiteral("address"), QStringLiteral("127.0.0.1"));
    QVERIFY(port->open(Plugin_Com_Port::ReadWrite));
    QTcpSocket client;
    client.connectToHost(QHostAddress::LocalHost, port->tcpServer()->serverPort());
    QVERIFY(waitUntil([&] { return port->writeRawData("x", 1) == 1; }, 10000));
    {
        ClosingHost host(port.data(), byProperty);
        for (int i = 0; i < 64; ++i)
            client.write(QByteArray(16384, 'c'));
        QVERIFY(settleAfter([&] { return host.closed(); }));
    }
    QCOMPARE(port->getTavlinProperty("connect"), QVariant(false));
    QVERIFY(waitUntil([&] { return client.state() == QAbstractSocket::UnconnectedState; }, 10000));
    QCOMPARE(log.deviceTexts(KrLog_Interface::Error), QStringList());

    QVERIFY(port->open(Plugin_Com_Port::ReadWrite));
    QTcpSocket next;
    next.connectToHost(QHostAddress::LocalHost, port->tcpServer()->serverPort());
    QVERIFY(waitUntil([&] { return port->writeRawData("x", 1) == 1; }, 10000));
    next.write(QByteArray(100, 'n'));
    QCOMPARE(readSome(port.data(), 100), 100);
}

void tst_StressReentry::tcpClient_data()
{
    byWhich();
}

void tst_StressReentry::tcpClient()
{
    QFETCH(bool, byProperty);
    QTcpServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost, 0));
    PCom_TcpClient_Device device(nullptr, nullptr);
    QScopedPointer<PCom_TcpClient_Port> port(static_cast<PCom_TcpClient_Port *>(device.createPort()));
    port->setTavlinProperty(QStringLiteral("address"), QStringLiteral("127.0.0.1"));
    port->setTavlinProperty(QStringLiteral("port"), server.serverPort());
    LogCapture log;
    QVERIFY(port->open(Plugin_Com_Port::ReadWrite));
    QVERIFY(waitUntil([&] { return server.hasPendingConnections(); }, 10000));
    std::unique_ptr<QTcpSocket> peer(server.nextPendingConnection());
    {
        ClosingHost host(port.data(), byProperty);
        for (int i = 0; i < 64; ++i)
            peer->write(QByteArray(16384, 'p'));
        QVERIFY(settleAfter([&] { return host.closed() && !port->opened(); }));
    }
    QCOMPARE(port->getTavlinProperty("connect"), QVariant(false));
    QVERIFY(port->tavlinProperty("address")->isWritable());
    QCOMPARE(log.qtTexts(QtCriticalMsg), QStringList());

    QVERIFY(port->open(Plugin_Com_Port::ReadWrite));
    QVERIFY(waitUntil([&] { return server.hasPendingConnections(); }, 10000));
    peer.reset(server.nextPendingConnection());
    peer->write(QByteArray(100, 'q'));
    QCOMPARE(readSome(port.data(), 100), 100);
}

void tst_StressReentry::udpClient_data()
{
    byWhich();
}

void tst_StressReentry::udpClient()
{
    QFETCH(bool, byProperty);
    QUdpSocket peer;
    QVERIFY(peer.bind(QHostAddress(QHostAddress::LocalHost), 0));
    PCom_UdpClient_Device device(nullptr, nullptr);
    QScopedPointer<PCom_UdpClient_Port> port(static_cast<PCom_UdpClient_Port *>(device.createPort()));
    port->setTavlinProperty(QStringLiteral("bind-address"), QStringLiteral("127.0.0.1"));
    LogCapture log;
    QVERIFY(port->open(Plugin_Com_Port::ReadWrite));
    // The port binds to a port that the system chooses; a first datagram
    // to the peer tells which.
    port->setTavlinProperty(QStringLiteral("address"), QStringLiteral("127.0.0.1"));
    port->setTavlinProperty(QStringLiteral("port"), peer.localPort());
    QCOMPARE(port->writeRawData("hello", 5), 5);
    QVERIFY(waitUntil([&] { return peer.hasPendingDatagrams(); }, 10000));
    const QNetworkDatagram hello = peer.receiveDatagram();
    {
        ClosingHost host(port.data(), byProperty);
        for (int i = 0; i < 200; ++i)
            peer.writeDatagram(QByteArray(512, 'u'), hello.senderAddress(), quint16(hello.senderPort()));
        QVERIFY(settleAfter([&] { return host.closed(); }));
    }
    QCOMPARE(port->getTavlinProperty("connect"), QVariant(false));
    QCOMPARE(log.qtTexts(QtCriticalMsg), QStringList());

    port->setTavlinProperty(QStringLiteral("bind-port"), hello.senderPort());
    QVERIFY(port->open(Plugin_Com_Port::ReadWrite));
    peer.writeDatagram(QByteArray(100, 'v'), hello.senderAddress(), quint16(hello.senderPort()));
    QCOMPARE(readSome(port.data(), 100), 100);
}

QTEST_GUILESS_MAIN(tst_StressReentry)
#include "tst_stress_reentry.moc"
