#include "hostlib/MqttEndpoint.h"

#include "hostlib/LogReceiver.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace {

QJsonObject counts(qint64 messages, qint64 bytes)
{
    return QJsonObject{{QStringLiteral("messages"), messages}, {QStringLiteral("bytes"), bytes}};
}

} // namespace

MqttEndpoint::MqttEndpoint(const MqttSettings &settings, bool frames, const QString &peer, QObject *parent)
    : Endpoint(parent), m_settings(settings), m_frames(frames), m_peer(peer), m_connection(settings)
{
    m_quiet.setSingleShot(true);
    m_quiet.setInterval(settings.quietMs);
    connect(&m_quiet, &QTimer::timeout, this, [this]() { cutPartial(m_partial.size()); });
    m_status.setInterval(settings.statusSeconds * 1000);
    connect(&m_status, &QTimer::timeout, this, [this]() { publishStatus(QStringLiteral("online")); });
    m_deadline.setSingleShot(true);
    connect(&m_connection, &MqttConnection::connected, this, &MqttEndpoint::onConnected);
    connect(&m_connection, &MqttConnection::connectionLost, this, &MqttEndpoint::onConnectionLost);
    connect(&m_connection, &MqttConnection::connectionFailed, this, [this](const QString &reason) {
        fail(QStringLiteral("the mqtt link did not connect to %1: %2").arg(broker(), reason));
    });
    connect(&m_connection, &MqttConnection::refused, this, [this](const QString &reason) {
        fail(QStringLiteral("the broker %1 refused the mqtt link: %2").arg(broker(), reason));
    });
    connect(&m_connection, &MqttConnection::reconnecting, this, [this](int tries) {
        LogReceiver::post(QStringLiteral("progress"),
                          QStringLiteral("pcom: connecting to the broker %1 again (try %2)").arg(broker()).arg(tries));
    });
    connect(&m_connection, &MqttConnection::published, this, &MqttEndpoint::onPublished);
    connect(&m_connection, &MqttConnection::messageArrived, this, &MqttEndpoint::onArrived);
    connect(&m_connection, &MqttConnection::closed, this, &MqttEndpoint::markDown);
    m_connection.setWill(m_settings.topic + QStringLiteral("/status"), QByteArrayLiteral("{\"state\":\"offline\"}"), 1);
}

MqttEndpoint::~MqttEndpoint() = default;

QString MqttEndpoint::broker() const
{
    return QStringLiteral("%1:%2").arg(m_settings.host).arg(m_settings.brokerPort());
}

bool MqttEndpoint::open()
{
    QString error;
    if (m_connection.start(&error))
        return true;
    LogReceiver::post(QStringLiteral("error"),
                      QStringLiteral("the mqtt link did not open: %1: %2").arg(broker(), error));
    return false;
}

void MqttEndpoint::start()
{
    m_status.start();
}

void MqttEndpoint::setLinkState(const QString &state)
{
    m_linkState = state;
    if (m_phase == Phase::Running)
        publishStatus(QStringLiteral("online"));
}

QByteArray MqttEndpoint::statusJson(const QString &state) const
{
    const QJsonObject status{
        {QStringLiteral("state"), state},
        {QStringLiteral("link"), QJsonObject{{QStringLiteral("kind"), m_peer}, {QStringLiteral("state"), m_linkState}}},
        {QStringLiteral("rx"), counts(m_rxMessages, m_rxBytes)},
        {QStringLiteral("tx"), counts(m_txMessages, m_txBytes)},
        {QStringLiteral("dropped"), counts(m_droppedMessages, m_droppedBytes)},
        {QStringLiteral("bad"), m_bad},
        {QStringLiteral("reconnects"), m_connection.reconnects()},
    };
    return QJsonDocument(status).toJson(QJsonDocument::Compact);
}

// Only what changed goes out: an idle gateway sends nothing but keep-alives.
void MqttEndpoint::publishStatus(const QString &state)
{
    const QByteArray status = statusJson(state);
    if (status == m_lastStatus || !m_connection.isConnected())
        return;
    if (m_connection.publish(m_settings.topic + QStringLiteral("/status"), status, 1, true) > 0)
        m_lastStatus = status;
}

void MqttEndpoint::onConnected()
{
    const QString tx = m_settings.topic + QStringLiteral("/tx");
    m_connection.subscribe(tx, m_settings.qos);
    if (m_frames && m_settings.topicPerId)
        m_connection.subscribe(tx + QStringLiteral("/+"), m_settings.qos);
    if (m_connection.tries() > 0) {
        LogReceiver::post(QStringLiteral("info"),
                          QStringLiteral("pcom: the mqtt link is back after %1 tries; %2 bytes for it were dropped "
                                         "while it was away")
                              .arg(m_connection.tries())
                              .arg(m_droppedAway));
    }
    m_droppedAway = 0;
    m_lastStatus.clear();
    publishStatus(QStringLiteral("online"));
    pump();
}

void MqttEndpoint::onConnectionLost(const QString &reason)
{
    LogReceiver::post(QStringLiteral("error"),
                      QStringLiteral("the mqtt link to %1 was lost: %2; trying again").arg(broker(), reason));
    if (m_settings.qos > 0)
        return;
    // Messages at QoS 0 that libmosquitto had not sent yet are gone with the connection.
    m_droppedMessages += m_inFlight.size();
    m_droppedBytes += m_inFlightBytes;
    m_droppedAway += m_inFlightBytes;
    m_inFlight.clear();
    m_inFlightBytes = 0;
    checkDrained();
}

void MqttEndpoint::write(const char *data, int size)
{
    if (m_phase != Phase::Running)
        return;
    m_partial.append(data, size);
    if (m_settings.cutLines) {
        int end;
        while ((end = m_partial.indexOf('\n')) >= 0 && end < m_settings.cutSize)
            cutPartial(end + 1);
    }
    while (m_partial.size() >= m_settings.cutSize)
        cutPartial(m_settings.cutSize);
    if (m_partial.isEmpty())
        m_quiet.stop();
    else
        m_quiet.start();
}

void MqttEndpoint::cutPartial(int size)
{
    if (size <= 0)
        return;
    enqueue(m_settings.topic + QStringLiteral("/rx"), m_partial.left(size));
    m_partial.remove(0, size);
}

void MqttEndpoint::writeFrame(const QCanBusFrame &frame, qint64 line)
{
    Q_UNUSED(line)
    if (m_phase != Phase::Running)
        return;
    QString topic = m_settings.topic + QStringLiteral("/rx");
    if (m_settings.topicPerId)
        topic += QLatin1Char('/') + QString::fromLatin1(MqttFrameCodec::topicId(frame));
    enqueue(topic, MqttFrameCodec::encode(frame, m_settings.form));
}

void MqttEndpoint::enqueue(const QString &topic, const QByteArray &payload)
{
    if (!m_connection.isConnected() && m_settings.qos == 0 && m_queuedBytes + payload.size() > m_holdLimit) {
        ++m_droppedMessages;
        m_droppedBytes += payload.size();
        m_droppedAway += payload.size();
        return;
    }
    m_queue.push_back({topic, payload});
    m_queuedBytes += payload.size();
    pump();
}

void MqttEndpoint::pump()
{
    while (!m_queue.empty() && m_inFlight.size() < window && m_connection.isConnected()) {
        const Message &message = m_queue.front();
        const int mid = m_connection.publish(message.topic, message.payload, m_settings.qos, false);
        if (mid <= 0)
            break;
        m_inFlight.insert(mid, message.payload.size());
        m_inFlightBytes += message.payload.size();
        m_queuedBytes -= message.payload.size();
        m_queue.pop_front();
    }
}

bool MqttEndpoint::isFull() const
{
    const bool full = m_queuedBytes + m_inFlightBytes + m_partial.size() >= maxBacklog;
    m_wasFull = m_wasFull || full;
    return full;
}

void MqttEndpoint::onPublished(int mid)
{
    const auto it = m_inFlight.find(mid);
    if (it == m_inFlight.end())
        return;
    ++m_rxMessages;
    m_rxBytes += it.value();
    m_inFlightBytes -= it.value();
    m_inFlight.erase(it);
    pump();
    if (m_wasFull && m_queuedBytes + m_inFlightBytes + m_partial.size() < maxBacklog / 2) {
        m_wasFull = false;
        emit backlogLow();
    }
    checkDrained();
}

void MqttEndpoint::onArrived(const QString &topic, const QByteArray &payload)
{
    if (m_phase != Phase::Running)
        return;
    ++m_txMessages;
    m_txBytes += payload.size();
    if (!m_frames) {
        emit received(payload.constData(), payload.size());
        return;
    }
    QCanBusFrame frame;
    QString error;
    if (!MqttFrameCodec::decode(payload, m_settings.form, &frame, &error)) {
        ++m_bad;
        LogReceiver::post(QStringLiteral("error"),
                          QStringLiteral("mqtt: the message on %1 is no CAN frame: %2 (skipped)").arg(topic, error));
        return;
    }
    emit frameReceived(frame);
}

void MqttEndpoint::finishWriting()
{
    m_finishing = true;
    cutPartial(m_partial.size());
    checkDrained();
}

void MqttEndpoint::checkDrained()
{
    if (!m_queue.empty() || !m_inFlight.isEmpty() || !m_partial.isEmpty())
        return;
    if (m_phase == Phase::Flushing) {
        sayGoodbye();
    } else if (m_finishing) {
        m_finishing = false;
        emit writeDone();
    }
}

void MqttEndpoint::close(int flushMs)
{
    if (m_phase != Phase::Running)
        return;
    m_phase = Phase::Flushing;
    m_quiet.stop();
    cutPartial(m_partial.size());
    m_deadline.disconnect(this);
    connect(&m_deadline, &QTimer::timeout, this, &MqttEndpoint::sayGoodbye);
    m_deadline.start(flushMs < 0 ? 10000 : flushMs);
    checkDrained();
}

// What has not left by now is counted as left over; the last status says
// offline, then the connection ends.
void MqttEndpoint::sayGoodbye()
{
    if (m_phase == Phase::Closing || m_phase == Phase::Down)
        return;
    m_phase = Phase::Closing;
    m_leftOver = m_queuedBytes + m_inFlightBytes;
    if (m_leftOver > 0) {
        LogReceiver::post(
            QStringLiteral("error"),
            QStringLiteral("%1 bytes for the mqtt link were not delivered to %2").arg(m_leftOver).arg(broker()));
    }
    m_status.stop();
    publishStatus(QStringLiteral("offline"));
    m_deadline.disconnect(this);
    connect(&m_deadline, &QTimer::timeout, this, [this]() {
        m_connection.drop();
        markDown();
    });
    m_deadline.start(goodbyeMs);
    m_connection.disconnectFromBroker();
}

void MqttEndpoint::fail(const QString &text)
{
    if (m_phase == Phase::Down)
        return;
    LogReceiver::post(QStringLiteral("error"), text);
    m_failed = true;
    m_leftOver = m_queuedBytes + m_inFlightBytes;
    m_connection.drop();
    emit lost();
    markDown();
}

void MqttEndpoint::abort()
{
    if (m_phase == Phase::Down)
        return;
    m_leftOver = m_queuedBytes + m_inFlightBytes + m_partial.size();
    m_connection.drop();
    markDown();
}

void MqttEndpoint::markDown()
{
    if (m_phase == Phase::Down)
        return;
    m_phase = Phase::Down;
    m_quiet.stop();
    m_status.stop();
    m_deadline.stop();
    emit down();
}
