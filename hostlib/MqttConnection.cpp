#include "hostlib/MqttConnection.h"

#include <QSocketNotifier>

#include <mosquitto.h>

#include <cerrno>
#include <cstring>
#include <mutex>
#include <utility>

namespace {

QString reasonOf(int rc)
{
    if (rc == MOSQ_ERR_ERRNO)
        return QString::fromLocal8Bit(std::strerror(errno));
    return QString::fromUtf8(mosquitto_strerror(rc));
}

bool begun(int rc)
{
    return rc == MOSQ_ERR_SUCCESS || rc == MOSQ_ERR_CONN_PENDING;
}

} // namespace

MqttConnection::MqttConnection(const MqttSettings &settings, QObject *parent) : QObject(parent), m_settings(settings)
{
    static std::once_flag libraryReady;
    std::call_once(libraryReady, []() { mosquitto_lib_init(); });
    m_mosq = mosquitto_new(settings.clientId.toUtf8().constData(), !settings.persistent, this);
    mosquitto_connect_callback_set(m_mosq, &MqttConnection::onConnect);
    mosquitto_disconnect_callback_set(m_mosq, &MqttConnection::onDisconnect);
    mosquitto_publish_callback_set(m_mosq, &MqttConnection::onPublish);
    mosquitto_message_callback_set(m_mosq, &MqttConnection::onMessage);
    // More messages on the way than the default 20 keeps a fast link busy;
    // the endpoint bounds what waits beyond them.
    mosquitto_max_inflight_messages_set(m_mosq, 64);
    mosquitto_int_option(m_mosq, MOSQ_OPT_TCP_NODELAY, 1);
    // Keep-alive is counted in seconds: a look each second is enough.
    m_misc.setInterval(1000);
    connect(&m_misc, &QTimer::timeout, this, [this]() {
        mosquitto_loop_misc(m_mosq);
        afterLoop();
    });
    m_retry.setSingleShot(true);
    connect(&m_retry, &QTimer::timeout, this, &MqttConnection::retry);
    m_deferred.setSingleShot(true);
    m_deferred.setInterval(0);
    connect(&m_deferred, &QTimer::timeout, this, [this]() {
        const QList<int> mids = std::exchange(m_early, {});
        for (int mid : mids)
            emit published(mid);
    });
}

MqttConnection::~MqttConnection()
{
    delete m_read;
    delete m_write;
    mosquitto_destroy(m_mosq);
}

void MqttConnection::setWill(const QString &topic, const QByteArray &payload, int qos)
{
    mosquitto_will_set(m_mosq, topic.toUtf8().constData(), payload.size(), payload.constData(), qos, true);
}

bool MqttConnection::start(QString *error)
{
    int rc = MOSQ_ERR_SUCCESS;
    if (!m_settings.username.isEmpty()) {
        rc = mosquitto_username_pw_set(m_mosq, m_settings.username.toUtf8().constData(),
                                       m_settings.password.isNull() ? nullptr
                                                                    : m_settings.password.toUtf8().constData());
    }
    if (rc == MOSQ_ERR_SUCCESS && !m_settings.caFile.isEmpty()) {
        const QByteArray ca = m_settings.caFile.toLocal8Bit();
        const QByteArray cert = m_settings.certFile.toLocal8Bit();
        const QByteArray key = m_settings.keyFile.toLocal8Bit();
        rc = mosquitto_tls_set(m_mosq, ca.constData(), nullptr, cert.isEmpty() ? nullptr : cert.constData(),
                               key.isEmpty() ? nullptr : key.constData(), nullptr);
    }
    if (rc == MOSQ_ERR_SUCCESS) {
        rc = mosquitto_connect_async(m_mosq, m_settings.host.toUtf8().constData(), m_settings.brokerPort(),
                                     m_settings.keepAliveSeconds);
    }
    if (!begun(rc)) {
        *error = reasonOf(rc);
        return false;
    }
    m_misc.start();
    afterLoop();
    return true;
}

int MqttConnection::publish(const QString &topic, const QByteArray &payload, int qos, bool retain)
{
    if (!m_connected)
        return 0;
    int mid = 0;
    m_publishing = true;
    const int rc
        = mosquitto_publish(m_mosq, &mid, topic.toUtf8().constData(), payload.size(), payload.constData(), qos, retain);
    m_publishing = false;
    if (!m_early.isEmpty())
        m_deferred.start();
    afterLoop();
    return rc == MOSQ_ERR_SUCCESS ? mid : 0;
}

void MqttConnection::subscribe(const QString &pattern, int qos)
{
    mosquitto_subscribe(m_mosq, nullptr, pattern.toUtf8().constData(), qos);
    afterLoop();
}

void MqttConnection::setReading(bool on)
{
    m_reading = on;
    if (m_read)
        m_read->setEnabled(on);
}

void MqttConnection::disconnectFromBroker()
{
    m_leaving = true;
    m_retry.stop();
    if (!m_connected) {
        m_misc.stop();
        dropNotifiers();
        emit closed();
        return;
    }
    mosquitto_disconnect(m_mosq);
    afterLoop();
}

void MqttConnection::drop()
{
    m_leaving = true;
    m_connected = false;
    m_retry.stop();
    m_misc.stop();
    dropNotifiers();
}

void MqttConnection::retry()
{
    ++m_tries;
    emit reconnecting(m_tries);
    if (begun(mosquitto_reconnect_async(m_mosq))) {
        afterLoop();
        return;
    }
    m_pauseMs = qMin(m_pauseMs * 2, longestPauseMs);
    m_retry.start(m_pauseMs);
}

void MqttConnection::afterLoop()
{
    if (m_leaving && !m_connected && m_fd < 0)
        return;
    watchSocket();
    if (m_write)
        m_write->setEnabled(mosquitto_want_write(m_mosq));
}

void MqttConnection::watchSocket()
{
    const int fd = mosquitto_socket(m_mosq);
    if (fd == m_fd)
        return;
    dropNotifiers();
    m_fd = fd;
    if (fd < 0)
        return;
    m_read = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    m_read->setEnabled(m_reading);
    connect(m_read, &QSocketNotifier::activated, this, [this]() {
        mosquitto_loop_read(m_mosq, 1);
        afterLoop();
    });
    m_write = new QSocketNotifier(fd, QSocketNotifier::Write, this);
    connect(m_write, &QSocketNotifier::activated, this, [this]() {
        mosquitto_loop_write(m_mosq, 1);
        afterLoop();
    });
}

// The notifiers may be the ones whose signal runs now: released later, but
// quiet at once, since libmosquitto has closed (or is about to close) the
// socket and its number may come back for another one.
void MqttConnection::dropNotifiers()
{
    for (QSocketNotifier *notifier : {m_read, m_write}) {
        if (notifier) {
            notifier->setEnabled(false);
            notifier->disconnect(this);
            notifier->deleteLater();
        }
    }
    m_read = nullptr;
    m_write = nullptr;
    m_fd = -1;
}

void MqttConnection::onConnect(mosquitto *, void *self, int rc)
{
    auto *connection = static_cast<MqttConnection *>(self);
    if (rc != 0) {
        connection->m_refused = true;
        emit connection->refused(QString::fromUtf8(mosquitto_connack_string(rc)));
        return;
    }
    connection->m_connected = true;
    if (connection->m_everConnected)
        ++connection->m_reconnects;
    connection->m_everConnected = true;
    connection->m_pauseMs = firstPauseMs;
    emit connection->connected();
    connection->m_tries = 0;
}

void MqttConnection::onDisconnect(mosquitto *, void *self, int rc)
{
    auto *connection = static_cast<MqttConnection *>(self);
    const bool wasConnected = connection->m_connected;
    connection->m_connected = false;
    if (connection->m_leaving) {
        connection->m_misc.stop();
        emit connection->closed();
    } else if (connection->m_refused) {
        connection->m_leaving = true;
    } else if (!connection->m_everConnected) {
        connection->m_leaving = true;
        emit connection->connectionFailed(reasonOf(rc));
    } else {
        if (wasConnected)
            emit connection->connectionLost(reasonOf(rc));
        else
            connection->m_pauseMs = qMin(connection->m_pauseMs * 2, longestPauseMs);
        connection->m_retry.start(connection->m_pauseMs);
    }
}

void MqttConnection::onPublish(mosquitto *, void *self, int mid)
{
    auto *connection = static_cast<MqttConnection *>(self);
    if (connection->m_publishing)
        connection->m_early.append(mid);
    else
        emit connection->published(mid);
}

void MqttConnection::onMessage(mosquitto *, void *self, const mosquitto_message *message)
{
    emit static_cast<MqttConnection *>(self)->messageArrived(
        QString::fromUtf8(message->topic),
        QByteArray(static_cast<const char *>(message->payload), message->payloadlen));
}
