#pragma once

#include "hostlib/Endpoint.h"
#include "hostlib/MqttConnection.h"
#include "hostlib/MqttSettings.h"

#include <QHash>
#include <QTimer>

#include <deque>

// An MQTT broker as an end of a bridge: what the other end (a serial line,
// a CAN bus, ...) reads is published to PREFIX/rx, what arrives on PREFIX/tx
// is handed to it. A byte stream goes as messages cut by size, quiet time or
// line end (MqttSettings); CAN frames one per message (MqttFrameCodec), a
// payload that is no frame is reported, counted and left out.
//
// The gateway's state is the retained PREFIX/status, a JSON object (state
// online or offline, the link's state, messages and bytes each way, what
// was dropped, bad payloads, reconnects), published on connection, on a
// change of the link's state and every status seconds when a count moved;
// the broker publishes {"state":"offline"} for us when we vanish.
//
// Memory stays bounded: at most maxBacklog waits (isFull() holds the other
// end back until backlogLow()). While the broker is away, QoS 1 keeps what
// waits and holds the other end back; QoS 0 drops it, counted (beyond the
// bridge's hold limit). What the broker sends is read only while the other
// end takes it (pauseReading()).
class MqttEndpoint : public Endpoint
{
    Q_OBJECT
public:
    // `frames`: the other end carries CAN frames; `peer` names it in the status.
    MqttEndpoint(const MqttSettings &settings, bool frames, const QString &peer, QObject *parent = nullptr);
    ~MqttEndpoint() override;

    // Begins the first connection; false, with the reason printed, when it
    // cannot begin. A broker that does not answer or refuses ends the link.
    bool open();
    // The state of the other end's link for the status ("up", "away", "down").
    void setLinkState(const QString &state);
    QByteArray statusJson(const QString &state) const;
    bool isConnected() const { return m_connection.isConnected(); }

    QString label() const override { return QStringLiteral("mqtt"); }
    bool usesFrames() const override { return m_frames; }
    void setSourceName(const QString &name) override { m_source = name; }
    void start() override;
    void pauseReading() override { m_connection.setReading(false); }
    void resumeReading() override { m_connection.setReading(true); }
    void write(const char *data, int size) override;
    void writeFrame(const QCanBusFrame &frame, qint64 line = 0) override;
    bool isFull() const override;
    void setHoldLimit(qint64 bytes) override { m_holdLimit = bytes; }
    qint64 bytesDelivered() const override { return m_rxBytes; }
    qint64 bytesDropped() const override { return m_droppedBytes; }
    qint64 itemsDropped() const override { return m_bad; }
    void finishWriting() override;
    void close(int flushMs = -1) override;
    void abort() override;
    bool isClosing() const override { return m_phase != Phase::Running; }
    bool isDown() const override { return m_phase == Phase::Down; }
    bool endedInOrder() const override { return !m_failed && m_leftOver == 0; }

    static constexpr qint64 maxBacklog = 1024 * 1024;
    // Messages handed to libmosquitto and not yet acknowledged, at most.
    static constexpr int window = 64;
    // How long the goodbye may take once what waits has left.
    static constexpr int goodbyeMs = 2000;

private:
    enum class Phase { Running, Flushing, Closing, Down };
    struct Message
    {
        QString topic;
        QByteArray payload;
    };

    void cutPartial(int size);
    void enqueue(const QString &topic, const QByteArray &payload);
    void pump();
    void onConnected();
    void onConnectionLost(const QString &reason);
    void onPublished(int mid);
    void onArrived(const QString &topic, const QByteArray &payload);
    void fail(const QString &text);
    void publishStatus(const QString &state);
    void checkDrained();
    void sayGoodbye();
    void markDown();
    QString broker() const;

    MqttSettings m_settings;
    bool m_frames;
    QString m_peer;
    QString m_source;
    QString m_linkState = QStringLiteral("up");
    MqttConnection m_connection;
    Phase m_phase = Phase::Running;
    QByteArray m_partial;
    QTimer m_quiet;
    std::deque<Message> m_queue;
    qint64 m_queuedBytes = 0;
    QHash<int, qint64> m_inFlight;
    qint64 m_inFlightBytes = 0;
    qint64 m_holdLimit = 0;
    mutable bool m_wasFull = false;
    bool m_finishing = false;
    bool m_failed = false;
    qint64 m_leftOver = 0;
    qint64 m_rxMessages = 0;
    qint64 m_rxBytes = 0;
    qint64 m_txMessages = 0;
    qint64 m_txBytes = 0;
    qint64 m_droppedMessages = 0;
    qint64 m_droppedBytes = 0;
    qint64 m_droppedAway = 0;
    qint64 m_bad = 0;
    QByteArray m_lastStatus;
    QTimer m_status;
    QTimer m_deadline;
};
