#pragma once

#include "bench/BenchConfig.h"
#include "bench/BenchRow.h"

#include <QVector>

class BenchLog;
class PluginPorts;

// TCP: a client port streaming to a server port of the plug-in on loopback,
// against a raw QTcpSocket pair and against blocking POSIX sockets; and the
// round trip of one byte through both pairs.
class TcpBench
{
public:
    TcpBench(const BenchConfig &config, PluginPorts &ports, BenchLog &log);

    QVector<BenchRow> run();

private:
    const BenchConfig &m_config;
    PluginPorts &m_ports;
    BenchLog &m_log;
};
