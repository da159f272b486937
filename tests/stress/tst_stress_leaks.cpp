#include "tests/stress/EventWait.h"
#include "tests/stress/FlatRun.h"
#include "tests/stress/LogCounter.h"
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
#include "tests/stress/StressScale.h"

#include <QLoggingCategory>
#include <QTcpServer>
#include <QTcpSocket>
#include <QNetworkDatagram>
#include <QUdpSocket>
#include <QtTest>

#include <memory>

#include <unistd.h>

// Thousands of open/close cycles of every kind of port: descriptors, live Qt
// objects and resident memory stay flat after a warm-up.
class tst_StressLeaks : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void serialOpenClose();
    void canOpenClose();
    void tcpServerOpenClose();
    void tcpClientOpenClose();
    void udpClientOpenClose();

private:
    quint16 m_relayPort = 0;
};

void tst_StressLeaks::initTestCase()
{
    QLoggingCategory::setFilterRules(QStringLiteral("qt.canbus.plugins.virtualcan.info=false"));
    QTcpServer probe;
    QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
    m_relayPort = probe.serverPort();
}

void tst_StressLeaks::serialOpenClose()
{
    PseudoTerminal pty;
    QVERIFY(pty.isValid());
    PCom_Com_Device device(nullptr, nullptr);
    QScopedPointer<PCom_Com_Port> port(static_cast<PCom_Com_Port *>(device.createPort()));
    port->setTavlinProperty(QStringLiteral("device"), pty.slavePath());
    port->setTavlinProperty(QStringLiteral("baudrate"), 115200);
    LogCounter log;
    char drain[256];
    runFlat(QStringLiteral("serial open/close"), [&](int i) {
        const bool opened = i % 2 ? port->open(Plugin_Com_Port::ReadWrite)
                                  : port->setTavlinProperty("connect", true).toBool();
        if (!opened || port->getTavlinProperty("connect") != QVariant(true))
            return false;
        // A byte in the port's buffer when it closes, and one on the line.
        if (port->writeRawData("s", 1) != 1)
            return false;
        while (::read(pty.masterFd(), drain, sizeof drain) > 0) {
        }
        if (i % 2)
            port->close();
        else
            port->setTavlinProperty("connect", false);
        return port->getTavlinProperty("connect") == QVariant(false) && port->tavlinProperty("device")->isWritable();
    });
    QCOMPARE(log.deviceCount(KrLog_Interface::Error), 0);
}

// Each cycle waits until the port is on the bus: a frame goes out only then.
void tst_StressLeaks::canOpenClose()
{
    PCom_CanBus_Device device(nullptr, nullptr);
    QVERIFY(device.setCanPlugin(QStringLiteral("virtualcan")));
    QScopedPointer<PCom_CanBus_Port> port(static_cast<PCom_CanBus_Port *>(device.createPort()));
    port->setTavlinProperty(QStringLiteral("device"), QStringLiteral("tcp://127.0.0.1:%1/can0").arg(m_relayPort));
    LogCounter log;
    runFlat(QStringLiteral("CAN open/close over virtualcan"), [&](int i) {
        const bool opened = i % 2 ? port->open(Plugin_Com_Port::ReadWrite)
                                  : port->setTavlinProperty("connect", true).toBool();
        if (!opened || port->getTavlinProperty("connect") != QVariant(true))
            return false;
        if (!waitUntil([&] { return port->writeRawData("c", 1, 0x100) == 1; }, 5000))
            return false;
        if (i % 2)
            port->close();
        else
            port->setTavlinProperty("connect", false);
        return port->getTavlinProperty("connect") == QVariant(false);
    });
    QCOMPARE(log.deviceCount(KrLog_Interface::Error), 0);
    QCOMPARE(log.deviceCount(KrLog_Interface::Progress), StressScale::cycles);
}

// Every 50th cycle a client connects and is still connected at the close.
void tst_StressLeaks::tcpServerOpenClose()
{
    PCom_TcpServer_Device device(nullptr, nullptr);
    QScopedPointer<PCom_TcpServer_Port> port(static_cast<PCom_TcpServer_Port *>(device.createPort()));
    port->setTavlinProperty(QStringLiteral("address"), QStringLiteral("127.0.0.1"));
    port->setTavlinProperty(QStringLiteral("port"), 0);
    LogCounter log;
    int clients = 0;
    runFlat(QStringLiteral("TCP server open/close"), [&](int i) {
        const bool opened = i % 2 ? port->open(Plugin_Com_Port::ReadWrite)
                                  : port->setTavlinProperty("connect", true).toBool();
        if (!opened || port->getTavlinProperty("connect") != QVariant(true))
            return false;
        std::unique_ptr<QTcpSocket> client;
        if (i % 50 == 0) {
            client = std::make_unique<QTcpSocket>();
            client->connectToHost(QHostAddress::LocalHost, port->tcpServer()->serverPort());
            if (!waitUntil([&] { return port->writeRawData("t", 1) == 1; }, 5000))
                return false;
            ++clients;
        }
        if (i % 2)
            port->close();
        else
            port->setTavlinProperty("connect", false);
        return port->getTavlinProperty("connect") == QVariant(false) && port->tavlinProperty("port")->isWritable();
    });
    QCOMPARE(log.deviceCount(KrLog_Interface::Error), 0);
    stressReport(QStringLiteral("leaks: TCP server open/close: %1 of the cycles closed with a client connected").arg(clients));
}

// Each cycle connects to a server of the test and waits until the server
// has the connection, then closes.
void tst_StressLeaks::tcpClientOpenClose()
{
    QTcpServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost, 0));
    int accepted = 0;
    connect(&server, &QTcpServer::newConnection, &server, [&] {
        while (QTcpSocket *socket = server.nextPendingConnection()) {
            ++accepted;
            connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        }
    });
    PCom_TcpClient_Device device(nullptr, nullptr);
    QScopedPointer<PCom_TcpClient_Port> port(static_cast<PCom_TcpClient_Port *>(device.createPort()));
    port->setTavlinProperty(QStringLiteral("address"), QStringLiteral("127.0.0.1"));
    port->setTavlinProperty(QStringLiteral("port"), server.serverPort());
    LogCounter log;
    runFlat(QStringLiteral("TCP client open/close"), [&](int i) {
        const int before = accepted;
        const bool opened = i % 2 ? port->open(Plugin_Com_Port::ReadWrite)
                                  : port->setTavlinProperty("connect", true).toBool();
        if (!opened || port->getTavlinProperty("connect") != QVariant(true))
            return false;
        if (!waitUntil([&] { return accepted > before; }, 5000) || port->writeRawData("t", 1) != 1)
            return false;
        if (i % 2)
            port->close();
        else
            port->setTavlinProperty("connect", false);
        return waitUntil([&] { return !port->opened(); }, 5000)
               && port->getTavlinProperty("connect") == QVariant(false) && port->tavlinProperty("port")->isWritable();
    });
    QCOMPARE(log.qtCount(QtCriticalMsg), 0);
    QCOMPARE(log.qtCount(QtWarningMsg), 0);
    QCOMPARE(accepted, StressScale::cycles);
}

// Each cycle binds, sends a datagram to a sink of the test and closes.
void tst_StressLeaks::udpClientOpenClose()
{
    QUdpSocket sink;
    QVERIFY(sink.bind(QHostAddress(QHostAddress::LocalHost), 0));
    PCom_UdpClient_Device device(nullptr, nullptr);
    QScopedPointer<PCom_UdpClient_Port> port(static_cast<PCom_UdpClient_Port *>(device.createPort()));
    port->setTavlinProperty(QStringLiteral("bind-address"), QStringLiteral("127.0.0.1"));
    port->setTavlinProperty(QStringLiteral("address"), QStringLiteral("127.0.0.1"));
    port->setTavlinProperty(QStringLiteral("port"), sink.localPort());
    LogCounter log;
    int received = 0;
    runFlat(QStringLiteral("UDP client open/close"), [&](int i) {
        const bool opened = i % 2 ? port->open(Plugin_Com_Port::ReadWrite)
                                  : port->setTavlinProperty("connect", true).toBool();
        if (!opened || port->getTavlinProperty("connect") != QVariant(true))
            return false;
        if (port->writeRawData("u", 1) != 1)
            return false;
        if (i % 2)
            port->close();
        else
            port->setTavlinProperty("connect", false);
        for (int n = 0; n < 100 && sink.hasPendingDatagrams(); ++n)
            received += sink.receiveDatagram().data() == "u";
        return !port->opened() && port->tavlinProperty("bind-address")->isWritable();
    });
    waitUntil([&] {
        for (int n = 0; n < 100 && sink.hasPendingDatagrams(); ++n)
            received += sink.receiveDatagram().data() == "u";
        return received == StressScale::cycles;
    }, 5000);
    QCOMPARE(log.qtCount(QtCriticalMsg), 0);
    QCOMPARE(log.qtCount(QtWarningMsg), 0);
    // Loopback drops no datagram that a reader keeps up with.
    QCOMPARE(received, StressScale::cycles);
}

QTEST_GUILESS_MAIN(tst_StressLeaks)
#include "tst_stress_leaks.moc"
