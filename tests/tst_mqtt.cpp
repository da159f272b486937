#include "hostlib/LogReceiver.h"
#include "hostlib/MqttEndpoint.h"
#include "hostlib/MqttFrameCodec.h"
#include "tests/support/EventWait.h"
#include "tests/support/LoopbackPeer.h"

#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

// mosquitto of the test's own on a free loopback port, its configuration and
// store in a temporary folder; mosquitto_sub and mosquitto_pub as peers.
class Broker
{
public:
    explicit Broker(bool anonymous = true) : m_port(LoopbackPeer::freePort())
    {
        // Started as root, mosquitto goes on as its own user, who keeps the store here.
        QFile::setPermissions(m_dir.path(), QFileDevice::Permissions(0x7007));
        QFile conf(m_dir.filePath(QStringLiteral("mosquitto.conf")));
        conf.open(QIODevice::WriteOnly);
        conf.write(QStringLiteral("listener %1 127.0.0.1\nallow_anonymous %2\npersistence true\npersistence_location %3/\n"
                                  "queue_qos0_messages true\n")
                       .arg(QString::number(m_port), anonymous ? "true" : "false", m_dir.path())
                       .toUtf8());
    }
    ~Broker() { stop(); }
    bool start()
    {
        m_process.start(QStringLiteral("mosquitto"), {"-c", m_dir.filePath(QStringLiteral("mosquitto.conf"))});
        return EventWait::until([this]() { return LoopbackPeer().connectTo(m_port, 200); }, 10000);
    }
    void stop()
    {
        m_process.terminate();
        m_process.waitForFinished(5000);
    }
    MqttSettings settings(const QString &words) const
    {
        MqttSettings settings;
        QString error;
        settings.parse(QStringLiteral("broker=127.0.0.1:%1 %2").arg(m_port).arg(words).split(' '), &error);
        return settings;
    }
    // A peer given the broker's address and `words`; its output once it ended by itself.
    QByteArray run(const QString &program, const QString &words, const QByteArray &input = QByteArray())
    {
        QProcess peer;
        peer.start(program, QStringLiteral("-h 127.0.0.1 -p %1 %2").arg(m_port).arg(words).split(' '));
        peer.write(input);
        peer.closeWriteChannel();
        if (!EventWait::until([&peer]() { return peer.state() == QProcess::NotRunning; }, 10000))
            peer.kill();
        peer.waitForFinished(1000);
        return peer.readAllStandardOutput();
    }
    // A persistent subscriber session (QoS 1) that keeps what comes for it.
    QByteArray subscriber(const QString &id, const QString &topic, const QString &words)
    {
        return run(QStringLiteral("mosquitto_sub"), QStringLiteral("-c -q 1 -N -i %1 -t %2 %3").arg(id, topic, words));
    }
    void publish(const QString &topic, const QByteArray &payload)
    {
        run(QStringLiteral("mosquitto_pub"), QStringLiteral("-q 1 -s -t ") + topic, payload);
    }
    // The retained status, read again until it holds `text`.
    bool statusSays(const QString &prefix, const QByteArray &text)
    {
        const QString words = QStringLiteral("-C 1 -t %1/status").arg(prefix);
        return EventWait::until([&]() { return run(QStringLiteral("mosquitto_sub"), words).contains(text); }, 10000);
    }

private:
    QTemporaryDir m_dir;
    quint16 m_port;
    QProcess m_process;
};

class TestMqtt : public QObject
{
    Q_OBJECT
private slots:
    void codec_data();
    void codec();
    void settings_data();
    void settings();
    void broker();
    void refused();
};

void TestMqtt::codec_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QByteArray>("binary");
    QTest::addColumn<QString>("error");
    QTest::newRow("base") << QByteArray("123#DEADBEEF") << QByteArray("0000012300DEADBEEF") << QString();
    QTest::newRow("extended") << QByteArray("12345678#11") << QByteArray("923456780011") << QString();
    QTest::newRow("remote") << QByteArray("123#R4") << QByteArray("4000012340") << QString();
    QTest::newRow("fd") << QByteArray("123##1AABB") << QByteArray("0000012303AABB") << QString();
    QTest::newRow("empty") << QByteArray("7FF#") << QByteArray("000007FF00") << QString();
    QTest::newRow("short") << QByteArray("12#1") << QByteArray("00000012") << "head of 5";
    QTest::newRow("error frame") << QByteArray("123#11\n124#22") << QByteArray("2000000100") << "error frame";
    QTest::newRow("base too high") << QByteArray("800#") << QByteArray("0000080000") << "above 7FF";
    QTest::newRow("nine bytes") << QByteArray("123#112233445566778899") << QByteArray("0000012300112233445566778899")
                                << "carries 0 to 8";
    QTest::newRow("flags") << QByteArray("123#R9") << QByteArray("0000012308") << "bits that mean nothing";
}

// Each row both ways: the text form to binary and back, or both refused.
void TestMqtt::codec()
{
    QFETCH(QByteArray, text);
    QFETCH(QByteArray, binary);
    QFETCH(QString, error);
    QCanBusFrame fromText;
    QCanBusFrame fromBinary;
    QString textError;
    QString binaryError;
    QCOMPARE(MqttFrameCodec::decode(text + "\n", MqttFrameCodec::Text, &fromText, &textError), error.isEmpty());
    QCOMPARE(MqttFrameCodec::decode(QByteArray::fromHex(binary), MqttFrameCodec::Binary, &fromBinary, &binaryError),
             error.isEmpty());
    if (!error.isEmpty()) {
        QVERIFY2(binaryError.contains(error), qPrintable(binaryError));
        return;
    }
    QCOMPARE(MqttFrameCodec::encode(fromText, MqttFrameCodec::Binary).toHex().toUpper(), binary);
    QCOMPARE(MqttFrameCodec::encode(fromBinary, MqttFrameCodec::Text), text);
}

void TestMqtt::settings_data()
{
    QTest::addColumn<QString>("words");
    QTest::addColumn<QString>("error");
    QTest::newRow("all") << "broker=[::1]:1884 topic=a/b qos=0 client-id=x session=persistent cut=line quiet=5 "
                            "format=binary topics=per-id status=2 keepalive=30"
                         << QString();
    QTest::newRow("no topic") << "broker=h"
                              << "needs broker=HOST[:PORT] and topic=PREFIX";
    QTest::newRow("qos") << "broker=h topic=t qos=2"
                         << "value '2' for 'qos' rejected: expected 0 or 1";
    QTest::newRow("wildcard") << "broker=h topic=t/#"
                              << "for 'topic' rejected";
    QTest::newRow("session") << "broker=h topic=t session=persistent"
                             << "needs client-id=ID";
    QTest::newRow("cut") << "broker=h topic=t cut=0"
                         << "for 'cut' rejected";
    QTest::newRow("port") << "broker=h:0 topic=t"
                          << "for 'broker' rejected";
    QTest::newRow("unknown") << "broker=h topic=t speed=1"
                             << "unknown setting 'speed'";
}

void TestMqtt::settings()
{
    QFETCH(QString, words);
    QFETCH(QString, error);
    MqttSettings settings;
    QString reason;
    QCOMPARE(settings.parse(words.split(QLatin1Char(' ')), &reason), error.isEmpty());
    QVERIFY2(reason.contains(error), qPrintable(reason));
    QVERIFY(!error.isEmpty() || (settings.port == 1884 && settings.host == "::1" && settings.topicPerId));
}

// Bytes and frames both ways, a bad frame, the status, the will, and a
// broker restart that loses nothing at QoS 1 in a persistent session.
void TestMqtt::broker()
{
    Broker broker;
    QVERIFY(broker.start());
    QStringList log;
    LogReceiver receiver;
    receiver.install();
    connect(&receiver, &LogReceiver::lineLogged, this, [&log](const QString &, const QString &text) { log << text; });
    broker.subscriber("b1", "b/rx", "-E");
    MqttEndpoint bytes(broker.settings(QStringLiteral("topic=b cut=line session=persistent client-id=gw status=1")),
                       false, QStringLiteral("com"));
    auto frames = std::make_unique<MqttEndpoint>(broker.settings(QStringLiteral("topic=c topics=per-id status=1 qos=0")),
                                                 true, QStringLiteral("canBus"));
    QByteArray received;
    connect(&bytes, &MqttEndpoint::received, this, [&received](const char *d, int size) { received.append(d, size); });
    QList<quint32> frameIds;
    connect(frames.get(), &MqttEndpoint::frameReceived, this, [&frameIds](const QCanBusFrame &f) { frameIds << f.frameId(); });
    for (MqttEndpoint *end : {&bytes, frames.get()}) {
        QVERIFY(end->open());
        end->start();
        QTRY_VERIFY_WITH_TIMEOUT(end->isConnected(), 10000);
    }
    bytes.write("hello\nwor", 9);
    QCOMPARE(broker.subscriber("b1", "b/rx", "-C 2"), QByteArray("hello\nwor"));
    broker.publish("b/tx", "abc");
    QTRY_COMPARE_WITH_TIMEOUT(received, QByteArray("abc"), 5000);

    broker.subscriber("c1", "c/rx/+", "-E");
    frames->writeFrame(QCanBusFrame(0x123, QByteArray::fromHex("DEADBEEF")));
    QCOMPARE(broker.subscriber("c1", "c/rx/+", "-C 1"), QByteArray("123#DEADBEEF"));
    broker.publish("c/tx/1", "nonsense");
    broker.publish("c/tx", "12345678#11");
    QTRY_COMPARE_WITH_TIMEOUT(frameIds, QList<quint32>{0x12345678u}, 5000);
    QCOMPARE(frames->itemsDropped(), 1);
    QVERIFY(log.contains("mqtt: the message on c/tx/1 is no CAN frame: no '#' between identifier and data "
                         "(expected ID#DATA, e.g. 123#DEADBEEF) (skipped)"));
    QVERIFY(broker.statusSays("c", "\"bad\":1,\"dropped\":{\"bytes\":0,\"messages\":0},"
                                   "\"link\":{\"kind\":\"canBus\",\"state\":\"up\"},\"reconnects\":0,"
                                   "\"rx\":{\"bytes\":12,\"messages\":1}"));
    frames->abort();
    frames.reset();
    QVERIFY(broker.statusSays("c", "{\"state\":\"offline\"}\n"));

    broker.subscriber("b2", "b/rx", "-E");
    broker.stop();
    QTRY_VERIFY_WITH_TIMEOUT(!bytes.isConnected(), 5000);
    bytes.write("kept\n", 5);
    QVERIFY(!bytes.isFull() && bytes.bytesDropped() == 0);
    QVERIFY(broker.start());
    QTRY_VERIFY_WITH_TIMEOUT(bytes.isConnected(), 10000);
    QCOMPARE(broker.subscriber("b2", "b/rx", "-C 1"), QByteArray("kept\n"));
    QVERIFY(broker.statusSays("b", "\"reconnects\":1,\"rx\":{\"bytes\":14,\"messages\":3},\"state\":\"online\""));
    QVERIFY(log.join('\n').contains(QRegularExpression(
        "pcom: the mqtt link is back after \\d+ tries; 0 bytes for it were dropped while it was away")));
}

void TestMqtt::refused()
{
    Broker broker(false);
    QVERIFY(broker.start());
    MqttEndpoint end(broker.settings(QStringLiteral("topic=t")), false, QStringLiteral("com"));
    QSignalSpy lost(&end, &MqttEndpoint::lost);
    QVERIFY(end.open());
    QVERIFY(lost.wait(10000));
    QVERIFY(end.isDown() && !end.endedInOrder());
}

QTEST_GUILESS_MAIN(TestMqtt)
#include "tst_mqtt.moc"
