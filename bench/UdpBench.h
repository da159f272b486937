#pragma once

#include "bench/BenchConfig.h"
#include "bench/BenchRow.h"

#include <QVector>

class BenchLog;
class PluginPorts;

// UDP: numbered 1 KiB datagrams between two udpClient ports on loopback,
// against a raw QUdpSocket pair, with the datagrams lost on the way.
class UdpBench
{
public:
    UdpBench(const BenchConfig &config, PluginPorts &ports, BenchLog &log);

    QVector<BenchRow> run();

private:
    const BenchConfig &m_config;
    PluginPorts &m_ports;
    BenchLog &m_log;
};
