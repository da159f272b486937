#pragma once

#include "bench/BenchConfig.h"
#include "bench/BenchRow.h"

#include <QVector>

class BenchLog;
class PluginPorts;

// pcom-gui's responsiveness: a stream arriving on a tcpClient port that a
// terminal pane shows as a hex dump, against the same stream read and
// dropped by a raw QTcpSocket. Measured: the longest the event loop was
// blocked (the largest gap between ticks of a 10 ms timer, less 10 ms), the
// throughput, and the growth of resident memory.
class GuiBench
{
public:
    GuiBench(const BenchConfig &config, PluginPorts &ports, BenchLog &log);
    QVector<BenchRow> run();

private:
    struct Result {
        double stallMs = 0;
        double mibPerSecond = 0;
        double residentGrowthMiB = 0;
        QString error;
    };

    Result receive(bool throughPane);

    const BenchConfig &m_config;
    PluginPorts &m_ports;
    BenchLog &m_log;
};
