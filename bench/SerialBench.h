#pragma once

#include "bench/BenchConfig.h"
#include "bench/BenchRow.h"

#include <QVector>

class BenchLog;
class PluginPorts;

// Serial: bytes through a "com" port on a pseudo-terminal, both ways, against
// a raw QSerialPort on a pseudo-terminal of its own. The far end is the
// master side, driven directly.
class SerialBench
{
public:
    SerialBench(const BenchConfig &config, PluginPorts &ports, BenchLog &log);

    QVector<BenchRow> run();

private:
    const BenchConfig &m_config;
    PluginPorts &m_ports;
    BenchLog &m_log;
};
