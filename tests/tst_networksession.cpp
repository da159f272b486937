#include "LogCapture.h"
#include "PCom_TcpClient_Device.h"
#include "PCom_UdpClient_Device.h"
#include "Plugin_Com_Port.h"
#include "TavlinProperty.h"

#include <QNetworkConfigurationManager>
#include <QNetworkDatagram>
#include <QSignalSpy>
#include <QTcpServer>
#include <QUdpSocket>
#include <QtTest>

QT_WARNING_DISABLE_DEPRECATED

// The client ports on a platform that requires network sessions. Qt learns
// that from the test bearer plug-in in PCOM_TEST_PLUGIN_DIR, whose sessions
// open, fail or hang as the test asks (see TestBearerSession).
class tst_NetworkSession : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void tcpClientConnectsOnceSessionOpens();
    void udpClientBindsOnceSessionOpens();
    void configurationChoice_data();
    void configurationChoice();
    void closeWhileWaitingForSession();
    void failedSessionEndsPort();
};

namespace {

int liveSessions()
{
    return QCoreApplication::instance()->property("pcomTestBearerSessions").toInt();
}

QStringList openedConfigurations()
{
    return QCoreApplication::instance()->property("pcomTestBearerOpened").toStringList();
}

// Makes the engine re-read its environment and waits until Qt took it in.
bool updateConfigurations()
{
    QNetworkConfigurationManager manager;
    QSignalSpy done(&manager, &QNetworkConfigurationManager::updateCompleted);
    manager.updateConfigurations();
    return done.wait(5000);
}

} // namespace

void tst_NetworkSession::initTestCase()
{
    // Only the test engine: the generic one would offer the machine's
    // interfaces as configurations.
    qputenv("QT_EXCLUDE_GENERIC_BEARER", "1");
    qputenv("PCOM_TEST_BEARER_NAMED", "absent");
    QCoreApplication::addLibraryPath(QStringLiteral(PCOM_TEST_PLUGIN_DIR));

    QNetworkConfigurationManager manager;
    QVERIFY(manager.capabilities() & QNetworkConfigurationManager::NetworkSessionRequired);
}

void tst_NetworkSession::init()
{
    qputenv("PCOM_TEST_BEARER_SESSION", "open");
    QTRY_COMPARE(liveSessions(), 0);
}

void tst_NetworkSession::tcpClientConnectsOnceSessionOpens()
{
    QTcpServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost, 0));
    PCom_TcpClient_Device device(nullptr, nullptr);
    QScopedPointer<Plugin_Com_Port> port(device.createPort());
    port->setTavlinProperty("address", QStringLiteral("127.0.0.1"));
    port->setTavlinProperty("port", server.serverPort());
    LogCapture log;

    // The open only starts the session; the connection waits for it.
    QVERIFY(port->open(Plugin_Com_Port::ReadWrite));
    QCOMPARE(log.texts(), QStringList{"tcpClient: Opening network session"});
    QCOMPARE(log.lines().first().type, int(QtInfoMsg));
    QVERIFY(port->opened());
    QVERIFY(!port->tavlinProperty("address")->isWritable());
    QCOMPARE(liveSessions(), 1);

    QTRY_VERIFY(log.contains(QStringLiteral("tcpClient: Connected")));
    QCOMPARE(log.texts(), (QStringList{"tcpClient: Opening network session", "tcpClient: Session opened",
                                       "tcpClient: Connecting to host...", "tcpClient: Host found",
                                       "tcpClient: Connected"}));
    QTRY_VERIFY(server.hasPendingConnections());
    QScopedPointer<QTcpSocket> peer(server.nextPendingConnection());
    QCOMPARE(port->writeRawData("ping", 4), 4);
    QTRY_COMPARE(peer->bytesAvailable(), qint64(4));

    // Closing leaves the session alone; the next open replaces it.
    log.clear();
    port->close();
    QCOMPARE(log.texts(), QStringList{"tcpClient: Disconnected"});
    QCOMPARE(liveSessions(), 1);
    QVERIFY(port->open(Plugin_Com_Port::ReadWrite));
    QTRY_VERIFY(log.contains(QStringLiteral("tcpClient: Connected")));
    QTRY_COMPARE(liveSessions(), 1);
    QCOMPARE(openedConfigurations().mid(openedConfigurations().size() - 2),
             (QStringList{"pcom-test-default", "pcom-test-default"}));

    port.reset();
    QTRY_COMPARE(liveSessions(), 0);
}

void tst_NetworkSession::udpClientBindsOnceSessionOpens()
{
    QUdpSocket peer;
    QVERIFY(peer.bind(QHostAddress::LocalHost, 0, QAbstractSocket::DontShareAddress));
    PCom_UdpClient_Device device(nullptr, nullptr);
    QScopedPointer<Plugin_Com_Port> port(device.createPort());
    port->setTavlinProperty("bind-address", QStringLiteral("127.0.0.1"));
    port->setTavlinProperty("address", QStringLiteral("127.0.0.1"));
    port->setTavlinProperty("port", peer.localPort());
    LogCapture log;

    QCOMPARE(port->setTavlinProperty("connect", true), QVariant(true));
    QCOMPARE(log.texts(), QStringList{"udpClient: Opening network session"});
    QTRY_VERIFY(log.texts().size() == 4);
    QCOMPARE(log.texts(), (QStringList{"udpClient: Opening network session", "udpClient: Session opened",
                                       "udpClient: Connecting to host...",
                                       "udpClient: Bind to IP 127.0.0.1 port 0"}));

    QCOMPARE(port->writeRawData("bound", 5), 5);
    QSignalSpy ready(&peer, &QUdpSocket::readyRead);
    QVERIFY(peer.hasPendingDatagrams() || ready.wait(5000));
    QCOMPARE(peer.receiveDatagram().data(), QByteArray("bound"));
}

void tst_NetworkSession::configurationChoice_data()
{
    QTest::addColumn<QByteArray>("named");
    QTest::addColumn<QString>("used");
    QTest::newRow("absent") << QByteArray("absent") << "pcom-test-default";
    QTest::newRow("defined only") << QByteArray("defined") << "pcom-test-default";
    QTest::newRow("discovered") << QByteArray("discovered") << "DefaultNetworkConfiguration";
    QTest::newRow("active") << QByteArray("active") << "DefaultNetworkConfiguration";
}

void tst_NetworkSession::configurationChoice()
{
    QFETCH(QByteArray, named);
    QFETCH(QString, used);
    qputenv("PCOM_TEST_BEARER_NAMED", named);
    QVERIFY(updateConfigurations());
    QNetworkConfigurationManager manager;
    QCOMPARE(manager.configurationFromIdentifier(QStringLiteral("DefaultNetworkConfiguration")).isValid(),
             named != "absent");

    PCom_UdpClient_Device device(nullptr, nullptr);
    QScopedPointer<Plugin_Com_Port> port(device.createPort());
    port->setTavlinProperty("bind-address", QStringLiteral("127.0.0.1"));
    LogCapture log;
    QVERIFY(port->open(Plugin_Com_Port::ReadWrite));
    QCOMPARE(openedConfigurations().last(), used);
    QTRY_VERIFY(log.contains(QStringLiteral("udpClient: Session opened")));

    qputenv("PCOM_TEST_BEARER_NAMED", "absent");
    QVERIFY(updateConfigurations());
}

// Left open by the platform: a port closed before its session opened drops
// the socket that never started and the session with it, so "connect"
// reads false at once and no late "Session opened" follows.
void tst_NetworkSession::closeWhileWaitingForSession()
{
    PCom_TcpClient_Device tcpDevice(nullptr, nullptr);
    PCom_UdpClient_Device udpDevice(nullptr, nullptr);

    // A session that opens right after the close.
    for (Plugin_Com_Device *device : {static_cast<Plugin_Com_Device *>(&tcpDevice),
                                      static_cast<Plugin_Com_Device *>(&udpDevice)}) {
        QScopedPointer<Plugin_Com_Port> port(device->createPort());
        const QString key = port->typeKey();
        LogCapture log;
        QSignalSpy changed(port.data(), &AbstractTreeItem::dataChanged);
        QCOMPARE(port->setTavlinProperty("connect", true), QVariant(true));
        QCOMPARE(port->setTavlinProperty("connect", false), QVariant(false));
        QVERIFY(changed.count() >= 2);
        QVERIFY(port->tavlinProperty("address")->isWritable());
        QTRY_COMPARE(liveSessions(), 0);
        QCOMPARE(log.texts(), (QStringList{key + ": Opening network session", key + ": Disconnected"}));
    }

    // A session that never opens: the port waits, reads as open, and can
    // still be closed.
    qputenv("PCOM_TEST_BEARER_SESSION", "never");
    QScopedPointer<Plugin_Com_Port> port(tcpDevice.createPort());
    LogCapture log;
    QVERIFY(port->open(Plugin_Com_Port::ReadWrite));
    QCOMPARE(port->getTavlinProperty("connect"), QVariant(true));
    char buf[8];
    QCOMPARE(port->readRawData(buf, sizeof buf), -1);
    // Nothing can be sent yet, and the refusal is reported.
    QCOMPARE(port->writeRawData("abc", 3), -1);
    QCOMPARE(log.qtTexts(QtCriticalMsg), QStringList{"PCom_TcpClient_Port: 3 byte could not be send"});
    log.clear();
    port->close();
    QCOMPARE(log.texts(), QStringList{"tcpClient: Disconnected"});
    QVERIFY(!port->opened());
    QTRY_COMPARE(liveSessions(), 0);

    // Deleted while waiting: socket and session go with the port.
    QVERIFY(port->open(Plugin_Com_Port::ReadWrite));
    QCOMPARE(liveSessions(), 1);
    log.clear();
    tcpDevice.deletePort(port.take());
    QTRY_COMPARE(liveSessions(), 0);
    QVERIFY(log.texts().isEmpty());
}

// Left open by the platform: a session that fails while the port waits for
// it is reported and ends the port; nothing would ever release it otherwise.
void tst_NetworkSession::failedSessionEndsPort()
{
    qputenv("PCOM_TEST_BEARER_SESSION", "fail");
    PCom_TcpClient_Device tcpDevice(nullptr, nullptr);
    PCom_UdpClient_Device udpDevice(nullptr, nullptr);
    for (Plugin_Com_Device *device : {static_cast<Plugin_Com_Device *>(&tcpDevice),
                                      static_cast<Plugin_Com_Device *>(&udpDevice)}) {
        QScopedPointer<Plugin_Com_Port> port(device->createPort());
        const QString key = port->typeKey();
        LogCapture log;
        QSignalSpy changed(port.data(), &AbstractTreeItem::dataChanged);
        QVERIFY(port->open(Plugin_Com_Port::ReadWrite));
        changed.clear();
        QTRY_COMPARE(port->opened(), false);
        QCOMPARE(log.texts(), (QStringList{key + ": Opening network session",
                                           key + ": Network session failed: test bearer refused the session",
                                           key + ": Disconnected"}));
        QCOMPARE(log.lines().at(1).type, int(QtCriticalMsg));
        QCOMPARE(changed.count(), 1);
        QVERIFY(port->tavlinProperty("port")->isWritable());
        QTRY_COMPARE(liveSessions(), 0);
    }
}

QTEST_GUILESS_MAIN(tst_NetworkSession)
#include "tst_networksession.moc"
