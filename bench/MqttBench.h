#pragma once

#include "bench/BenchConfig.h"
#include "bench/BenchRow.h"

#include <QProcess>
#include <QString>
#include <QTemporaryDir>
#include <QVector>

// MQTT, through a mosquitto of the run's own on a free loopback port
// (Nagle's delay off, no bound on what it queues for a subscriber):
// - 64-byte messages at QoS 1 from an mqtt end (MqttEndpoint, lines cut one
//   per message) to a mosquitto_sub that counts them, against mosquitto_pub
//   -l doing the same (the broker's and the subscriber's share is in both);
// - the round trip of one byte from an mqtt end through the broker to an
//   echoing client and back, against a bare libmosquitto client
//   (MqttConnection) in its place.
// Without mosquitto and its clients the suite is a note, not a failure.
class MqttBench
{
public:
    explicit MqttBench(const BenchConfig &config);
    ~MqttBench();

    QVector<BenchRow> run();

private:
    bool startBroker(QString *error);
    // Messages per second from the mqtt end (plugin) or mosquitto_pub.
    bool measureRate(bool plugin, int messages, Samples *samples, QString *error);
    bool roundTrip(bool plugin, int rounds, Samples *samples, QString *error);
    QStringList brokerArguments() const;

    const BenchConfig &m_config;
    QTemporaryDir m_dir;
    quint16 m_port = 0;
    QProcess m_broker;
    int m_runs = 0;
};
