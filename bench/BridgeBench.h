#pragma once

#include "bench/BenchConfig.h"
#include "bench/BenchRow.h"

#include <QVector>

// The relay: `pcom bridge` from a tcpServer port to a tcpClient port against
// socat doing the same relay: throughput, the relay's CPU time and its peak
// resident memory; the 1-byte round trip through it; and its peak memory
// while the sink reads slowly (it must stay flat: the relay holds the
// source back instead of buffering).
class BridgeBench
{
public:
    BridgeBench(const BenchConfig &config, const QString &pluginFile);

    QVector<BenchRow> run();

    // What the slow sink reads per second.
    static constexpr double slowSinkBytesPerSecond = 8.0 * 1024 * 1024;

private:
    const BenchConfig &m_config;
    QString m_pluginFile;
};
