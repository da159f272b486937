#include "bench/MqttBench.h"

#include "hostlib/MqttConnection.h"
#include "hostlib/MqttEndpoint.h"
#include "tests/support/EventWait.h"
#include "tests/support/LoopbackPeer.h"

#include <QElapsedTimer>
#include <QFile>
#include <QStandardPaths>

namespace {

const int kTimeoutMs = 30000;
const QByteArray kLine = QByteArray(63, 'm') + '\n';

MqttSettings settingsFor(quint16 port, const QString &id, const QString &topic)
{
    MqttSettings settings;
    settings.host = QStringLiteral("127.0.0.1");
    settings.port = port;
    settings.clientId = id;
    settings.topic = topic;
    return settings;
}

bool connected(const std::function<bool()> &isConnected, QString *error)
{
    if (EventWait::until(isConnected, 10000))
        return true;
    *error = QStringLiteral("no connection to the broker");
    return false;
}

} // namespace

MqttBench::MqttBench(const BenchConfig &config) : m_config(config)
{ }

MqttBench::~MqttBench()
{
    m_broker.terminate();
    m_broker.waitForFinished(5000);
}

QStringList MqttBench::brokerArguments() const
{
    return {QStringLiteral("-h"), QStringLiteral("127.0.0.1"), QStringLiteral("-p"), QString::number(m_port)};
}

bool MqttBench::startBroker(QString *error)
{
    m_port = LoopbackPeer::freePort();
    QFile conf(m_dir.filePath(QStringLiteral("mosquitto.conf")));
    if (!conf.open(QIODevice::WriteOnly)
        || conf.write(QStringLiteral("listener %1 127.0.0.1\nallow_anonymous true\nset_tcp_nodelay true\n"
                                     "max_queued_messages 0\n")
                          .arg(m_port)
                          .toUtf8())
            < 0) {
        *error = QStringLiteral("cannot write the broker's configuration");
        return false;
    }
    conf.close();
    m_broker.start(QStringLiteral("mosquitto"), {QStringLiteral("-c"), conf.fileName()});
    if (EventWait::until([this]() { return LoopbackPeer().connectTo(m_port, 200); }, 10000))
        return true;
    *error = QStringLiteral("mosquitto did not start");
    return false;
}

QVector<BenchRow> MqttBench::run()
{
    BenchRow rate;
    rate.path = QStringLiteral("mqtt 64-byte messages, QoS 1, to mosquitto_sub");
    rate.unit = QStringLiteral("messages/s");
    rate.baselineName = QStringLiteral("mosquitto_pub -l");
    rate.target = BenchRow::AtLeast;
    rate.targetRatio = 0.97;
    BenchRow trip;
    trip.path = QStringLiteral("mqtt 1-byte round trip via an echo client");
    trip.unit = QStringLiteral("us");
    trip.baselineName = QStringLiteral("libmosquitto client");
    trip.target = BenchRow::AtMost;
    trip.targetRatio = 1.05;

    for (const char *program : {"mosquitto", "mosquitto_pub", "mosquitto_sub"}) {
        if (QStandardPaths::findExecutable(QString::fromLatin1(program)).isEmpty()) {
            rate.note = trip.note = QStringLiteral("%1 is not installed").arg(QString::fromLatin1(program));
            return {rate, trip};
        }
    }
    QString error;
    if (!startBroker(&error)) {
        rate.note = trip.note = error;
        rate.failed = trip.failed = true;
        return {rate, trip};
    }
    const int messages = m_config.quick ? 10000 : 20000;
    const int rounds = m_config.quick ? 500 : 2000;
    QString rateError;
    QString tripError;
    measureRate(true, messages / 10, nullptr, &rateError);
    measureRate(false, messages / 10, nullptr, &rateError);
    for (int rep = 0; rep < m_config.repetitions; ++rep) {
        for (int side = 0; side < 2; ++side) {
            const bool plugin = (side == 0) == (rep % 2 == 0);
            measureRate(plugin, messages, plugin ? &rate.plugin : &rate.baseline, &rateError);
            roundTrip(plugin, rounds, plugin ? &trip.plugin : &trip.baseline, &tripError);
        }
    }
    rate.note = rateError;
    trip.note = tripError;
    rate.failed = !rateError.isEmpty();
    trip.failed = !tripError.isEmpty();
    return {rate, trip};
}

bool MqttBench::measureRate(bool plugin, int messages, Samples *samples, QString *error)
{
    // A persistent session of the counter's, made first, so that no message
    // goes out before it is subscribed.
    const QString topic = QStringLiteral("bench%1").arg(++m_runs);
    const QStringList session
        = brokerArguments() + QStringList{QStringLiteral("-c"),         QStringLiteral("-i"), topic,
                                          QStringLiteral("-q"),         QStringLiteral("1"),  QStringLiteral("-t"),
                                          topic + QStringLiteral("/rx")};
    QProcess::execute(QStringLiteral("mosquitto_sub"), session + QStringList{QStringLiteral("-E")});
    QProcess counter;
    counter.setStandardOutputFile(QProcess::nullDevice());
    counter.start(QStringLiteral("mosquitto_sub"),
                  session + QStringList{QStringLiteral("-C"), QString::number(messages)});
    MqttSettings settings = settingsFor(m_port, topic + QStringLiteral("-pub"), topic);
    settings.cutLines = true;
    MqttEndpoint end(settings, false, QStringLiteral("bench"));
    QProcess publisher;
    QElapsedTimer clock;
    if (plugin) {
        if (!end.open() || !connected([&end]() { return end.isConnected(); }, error))
            return false;
        end.start();
        int sent = 0;
        const auto feed = [&]() {
            for (; sent < messages && !end.isFull(); ++sent)
                end.write(kLine.constData(), kLine.size());
        };
        QObject::connect(&end, &Endpoint::backlogLow, feed);
        clock.start();
        feed();
    } else {
        clock.start();
        publisher.start(QStringLiteral("mosquitto_pub"),
                        brokerArguments()
                            + QStringList{QStringLiteral("-l"), QStringLiteral("-q"), QStringLiteral("1"),
                                          QStringLiteral("-t"), topic + QStringLiteral("/rx")});
        publisher.write(kLine.repeated(messages));
        publisher.closeWriteChannel();
    }
    const bool done = EventWait::until([&counter]() { return counter.state() == QProcess::NotRunning; }, kTimeoutMs);
    const double seconds = clock.nsecsElapsed() / 1e9;
    publisher.waitForFinished(5000);
    if (!done || counter.exitCode() != 0) {
        counter.kill();
        *error
            = QStringLiteral("%1: not every message reached the subscriber").arg(plugin ? "mqtt end" : "mosquitto_pub");
        return false;
    }
    if (samples)
        samples->add(messages / seconds);
    return true;
}

bool MqttBench::roundTrip(bool plugin, int rounds, Samples *samples, QString *error)
{
    const QString topic = QStringLiteral("trip%1").arg(++m_runs);
    MqttConnection echo(settingsFor(m_port, topic + QStringLiteral("-echo"), topic));
    QObject::connect(&echo, &MqttConnection::connected, [&]() { echo.subscribe(topic + QStringLiteral("/rx"), 1); });
    QObject::connect(&echo, &MqttConnection::messageArrived, [&](const QString &, const QByteArray &payload) {
        echo.publish(topic + QStringLiteral("/tx"), payload, 1, false);
    });
    MqttSettings settings = settingsFor(m_port, topic + QStringLiteral("-ping"), topic);
    settings.cutSize = 1;
    MqttEndpoint end(settings, false, QStringLiteral("bench"));
    MqttConnection bare(settings);
    int answers = 0;
    QObject::connect(&end, &Endpoint::received, [&answers]() { ++answers; });
    QObject::connect(&bare, &MqttConnection::messageArrived, [&answers]() { ++answers; });
    QObject::connect(&bare, &MqttConnection::connected, [&]() { bare.subscribe(topic + QStringLiteral("/tx"), 1); });
    QString startError;
    if (!echo.start(&startError) || !(plugin ? end.open() : bare.start(&startError))
        || !connected([&]() { return echo.isConnected() && (plugin ? end.isConnected() : bare.isConnected()); }, error))
        return false;
    end.start();
    // Subscriptions are in place once a first answer came back.
    const auto ping = [&](int timeoutMs) {
        const int before = answers;
        if (plugin)
            end.write("p", 1);
        else
            bare.publish(topic + QStringLiteral("/rx"), "p", 1, false);
        return EventWait::until([&]() { return answers > before; }, timeoutMs);
    };
    if (!EventWait::until([&]() { return ping(500); }, 10000)) {
        *error = QStringLiteral("no answer from the echo client");
        return false;
    }
    Samples trips;
    QElapsedTimer clock;
    for (int i = 0; i < rounds; ++i) {
        clock.start();
        if (!ping(10000)) {
            *error = QStringLiteral("an answer did not come back");
            return false;
        }
        trips.add(clock.nsecsElapsed() / 1e3);
    }
    if (samples)
        samples->add(trips.median());
    return true;
}
