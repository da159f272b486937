#pragma once

#include "bench/BenchConfig.h"
#include "bench/BenchRow.h"

#include <QVector>

class BenchLog;
class PluginPorts;

// The property path: setTavlinProperty (each call a change: applied, traced,
// announced and read back) and getTavlinProperty calls per second on a port
// of each kind, against a Qt property written and read by name.
class PropertyBench
{
public:
    PropertyBench(const BenchConfig &config, PluginPorts &ports, BenchLog &log);

    QVector<BenchRow> run();

private:
    const BenchConfig &m_config;
    PluginPorts &m_ports;
    BenchLog &m_log;
};
