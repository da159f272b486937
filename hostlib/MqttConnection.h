#pragma once

#include "hostlib/MqttSettings.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTimer>

struct mosquitto;
class QSocketNotifier;

// One client of an MQTT broker, on libmosquitto, driven by the event loop of
// the thread that made it: the socket is watched by socket notifiers (the
// write one only while libmosquitto has something to send), keep-alive and
// retries by mosquitto_loop_misc on a timer. libmosquitto starts no thread.
//
// The first connection has to be made (connectionFailed() otherwise); after
// that a lost connection is tried again after a pause that doubles from
// 0.25 s up to 30 s, each try reported with reconnecting(). A broker that
// refuses the client (bad credentials, say) is final: refused().
// libmosquitto calls back from inside its loop calls; what this class does
// in them is emit signals, and a slot may publish again from there.
class MqttConnection : public QObject
{
    Q_OBJECT
public:
    explicit MqttConnection(const MqttSettings &settings, QObject *parent = nullptr);
    ~MqttConnection() override;

    // What the broker publishes for us when we vanish without saying goodbye.
    void setWill(const QString &topic, const QByteArray &payload, int qos);
    // Starts the first connection; false, with the reason, when it cannot
    // even begin (a bad TLS file, a name that does not resolve, ...).
    bool start(QString *error);
    bool isConnected() const { return m_connected; }
    // The message id (> 0) of a message handed to libmosquitto, 0 when it
    // took nothing (not connected, at QoS 0).
    int publish(const QString &topic, const QByteArray &payload, int qos, bool retain);
    void subscribe(const QString &pattern, int qos);
    // Reading from the broker stops while paused (the broker then holds back).
    void setReading(bool on);
    // Says goodbye once what is queued has been sent; closed() follows.
    void disconnectFromBroker();
    // Drops the connection at once, without a goodbye (the will goes out).
    void drop();
    // How often the connection came back, and the tries of the last time.
    int reconnects() const { return m_reconnects; }
    int tries() const { return m_tries; }

    static constexpr int firstPauseMs = 250;
    static constexpr int longestPauseMs = 30000;

signals:
    void connected();
    void connectionLost(const QString &reason);
    void connectionFailed(const QString &reason);
    void refused(const QString &reason);
    void reconnecting(int tries);
    void published(int mid);
    void messageArrived(const QString &topic, const QByteArray &payload);
    void closed();

private:
    static void onConnect(mosquitto *, void *self, int rc);
    static void onDisconnect(mosquitto *, void *self, int rc);
    static void onPublish(mosquitto *, void *self, int mid);
    static void onMessage(mosquitto *, void *self, const struct mosquitto_message *message);

    void afterLoop();
    void watchSocket();
    void dropNotifiers();
    void retry();

    MqttSettings m_settings;
    mosquitto *m_mosq = nullptr;
    int m_fd = -1;
    QSocketNotifier *m_read = nullptr;
    QSocketNotifier *m_write = nullptr;
    QTimer m_misc;
    QTimer m_retry;
    // libmosquitto may confirm a message (QoS 0: written) inside the
    // publish call, before its caller knows the id: told a moment later.
    bool m_publishing = false;
    QList<int> m_early;
    QTimer m_deferred;
    int m_pauseMs = firstPauseMs;
    int m_reconnects = 0;
    int m_tries = 0;
    bool m_reading = true;
    bool m_connected = false;
    bool m_everConnected = false;
    bool m_refused = false;
    bool m_leaving = false;
};
