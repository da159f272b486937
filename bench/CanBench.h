#pragma once

#include "bench/BenchConfig.h"
#include "bench/BenchRow.h"

#include <QString>
#include <QVector>

class BenchLog;
class BenchEndpoint;
class PluginPorts;

// CAN: 8-byte data frames from one canBus port to another over Qt's
// virtualcan back-end, against two raw QCanBusDevices on the same bus. The
// pairs are opened for each run and closed after it, so that the relay only
// ever carries the pair being measured.
class CanBench
{
public:
    CanBench(const BenchConfig &config, PluginPorts &ports, BenchLog &log);

    QVector<BenchRow> run();

private:
    bool runPlugin(int frames, Samples *samples, QString *error);
    bool runRaw(int frames, Samples *samples, QString *error);
    bool measure(BenchEndpoint *from, BenchEndpoint *to, int frames, Samples *samples, QString *error);
    static bool waitForBus(BenchEndpoint *from, BenchEndpoint *to);

    const BenchConfig &m_config;
    PluginPorts &m_ports;
    BenchLog &m_log;
    QString m_interface;
};
