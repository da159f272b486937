#pragma once

#include "bench/BenchConfig.h"
#include "bench/BenchRow.h"

#include <QVector>

// The relay: `pcom bridge` from a tcpServer port to a tcpClient port against
// socat doing the same relay: throughput, the relay's CPU time and its peak
// resident memory.
class BridgeBench
{
public:
    BridgeBench(const BenchConfig &config, const QString &pluginFile);

    QVector<BenchRow> run();

private:
    const BenchConfig &m_config;
    QString m_pluginFile;
};
