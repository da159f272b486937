#include "tests/support/NetClientTestUtil.h"
#include "tcpclient/PCom_TcpClient_Device.h"
#include "udpclient/PCom_UdpClient_Device.h"

#include <QNetworkConfigurationManager>
#include <QTcpServer>
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
    void sessions_data();
    void sessions();

private:
    Plugin_Com_Port *newPort(const QString &key, quint16 peerPort = 0);
    PCom_TcpClient_Device m_tcp{nullptr, nullptr};
    PCom_UdpClient_Device m_udp{nullptr, nullptr};
};

// What the test bearer keeps as properties of the application object.
static int liveSessions()
{
    return QCoreApplication::instance()->property("pcomTestBearerSessions").toInt();
}

// Makes the engine re-read its environment and waits until Qt took it in.
static bool updateConfigurations(const QByteArray &named)
{
    qputenv("PCOM_TEST_BEARER_NAMED", named);
    QNetworkConfigurationManager manager;
    QSignalSpy done(&manager, &QNetworkConfigurationManager::updateCompleted);
    manager.updateConfigurations();
    return done.wait(5000);
}

Plugin_Com_Port *tst_NetworkSession::newPort(const QString &key, quint16 peerPort)
{
    // A TCP port has no "bind-address" and leaves it alone.
    return NetClientTestUtil::configured(key == QLatin1String("tcpClient") ? m_tcp.createPort() : m_udp.createPort(),
                                         {{"bind-address", "127.0.0.1"}, {"address", "127.0.0.1"}, {"port", peerPort}});
}

void tst_NetworkSession::initTestCase()
{
    // Only the test engine: the generic one would offer the machine's
    // interfaces as configurations.
    qputenv("QT_EXCLUDE_GENERIC_BEARER", "1");
    QCoreApplication::addLibraryPath(QStringLiteral(PCOM_TEST_PLUGIN_DIR));
    QNetworkConfigurationManager manager;
    QVERIFY(manager.capabilities() & QNetworkConfigurationManager::NetworkSessionRequired);
}

void tst_NetworkSession::init()
{
    qputenv("PCOM_TEST_BEARER_SESSION", "open");
    QTRY_COMPARE(liveSessions(), 0);
}

void tst_NetworkSession::sessions_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QByteArray>("named");
    QTest::addColumn<QString>("used");
    QTest::addColumn<QStringList>("linked");
    const QString fallback = QStringLiteral("pcom-test-default");
    const QStringList connected{"Host found", "Connected"}, bound{"Bind to IP 127.0.0.1 port 0"};
    QTest::newRow("tcpClient") << "tcpClient" << QByteArray("absent") << fallback << connected;
    QTest::newRow("udpClient, named absent") << "udpClient" << QByteArray("absent") << fallback << bound;
    QTest::newRow("udpClient, named defined") << "udpClient" << QByteArray("defined") << fallback << bound;
    QTest::newRow("udpClient, named discovered")
        << "udpClient" << QByteArray("discovered") << "DefaultNetworkConfiguration" << bound;
}

// The open only starts the session; the connection or the bind waits for it.
// The named configuration is used once it is discovered, else the engine's
// default. Closing leaves the session alone; the next open replaces it.
// A port closed before its session opened stays closing and finishes the
// close when the session opens, without connecting. A session that fails
// while the port waits is reported and ends the port; nothing would ever
// release it otherwise. A session that never opens: the TCP port waits,
// reads as open, refuses to send, stays closing when closed, and can be
// deleted, its session going with it.
void tst_NetworkSession::sessions()
{
    QFETCH(QString, key);
    QFETCH(QByteArray, named);
    QFETCH(QString, used);
    QFETCH(QStringList, linked);
    QVERIFY(updateConfigurations(named));
    QTcpServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost, 0));
    QScopedPointer<Plugin_Com_Port> port(newPort(key, server.serverPort()));
    LogCapture log;
    const auto opened = [] { return QCoreApplication::instance()->property("pcomTestBearerOpened").toStringList(); };

    QVERIFY(port->open(Plugin_Com_Port::ReadWrite));
    QCOMPARE(log.qtTexts(QtInfoMsg), QStringList{key + ": Opening network session"});
    QVERIFY(port->opened() && !port->tavlinProperty("address")->isWritable());
    QVERIFY(liveSessions() == 1 && opened().last() == used);
    QStringList expected = QStringList{"Opening network session", "Session opened", "Connecting to host..."} + linked;
    expected.replaceInStrings(QRegularExpression("^"), key + ": ");
    QTRY_COMPARE(log.texts(), expected);

    log.clear();
    port->close();
    QCOMPARE(log.texts(), QStringList{key + ": Disconnected"});
    QCOMPARE(liveSessions(), 1);
    QVERIFY(port->open(Plugin_Com_Port::ReadWrite));
    QTRY_COMPARE(log.texts().last(), expected.last());
    QCOMPARE(liveSessions(), 1);
    QCOMPARE(opened().mid(opened().size() - 2), (QStringList{used, used}));
    port->close();

    log.clear();
    QSignalSpy changed(port.data(), &AbstractTreeItem::dataChanged);
    QCOMPARE(port->setTavlinProperty("connect", true), QVariant(true));
    QCOMPARE(port->setTavlinProperty("connect", false), QVariant(true));
    QTRY_VERIFY(!port->opened());
    QVERIFY(changed.count() >= 3 && port->tavlinProperty("address")->isWritable());
    QCOMPARE(log.texts(), (QStringList{key + ": Opening network session", key + ": Session opened",
                                       key + ": Disconnected"}));

    qputenv("PCOM_TEST_BEARER_SESSION", "fail");
    log.clear();
    QVERIFY(port->open(Plugin_Com_Port::ReadWrite));
    changed.clear();
    QTRY_COMPARE(port->opened(), false);
    const QString failed = key + ": Network session failed: test bearer refused the session";
    QCOMPARE(log.texts(), (QStringList{key + ": Opening network session", failed, key + ": Disconnected"}));
    QCOMPARE(log.qtTexts(QtCriticalMsg), QStringList{failed});
    QCOMPARE(changed.count(), 1);
    QVERIFY(port->tavlinProperty("port")->isWritable());
    QTRY_COMPARE(liveSessions(), 0);

    // (A UDP port's send fails at once and ends it, as any send error does.)
    if (key == QLatin1String("udpClient"))
        return;
    qputenv("PCOM_TEST_BEARER_SESSION", "never");
    QVERIFY(port->open(Plugin_Com_Port::ReadWrite));
    log.clear();
    QCOMPARE(port->writeRawData("abc", 3), -1);
    QCOMPARE(log.qtTexts(QtCriticalMsg), QStringList{"PCom_TcpClient_Port: 3 byte could not be send"});
    port->close();
    QVERIFY(port->opened() && !port->open(Plugin_Com_Port::ReadWrite)); // closing until the session answers
    QCOMPARE(liveSessions(), 1);
    port.reset();
    QTRY_COMPARE(liveSessions(), 0);
}

QTEST_GUILESS_MAIN(tst_NetworkSession)
#include "tst_networksession.moc"
