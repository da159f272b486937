#pragma once

#include <QString>
#include <QStringList>

// How much work each measurement does. --quick shrinks every amount so that
// the whole run stays under a minute; the figures are then rougher.
struct BenchConfig
{
    bool quick = false;
    int repetitions = 5;

    qint64 tcpBytes = 1024ll << 20;
    int tcpRounds = 10000;
    int udpDatagrams = 200000;
    qint64 serialBytes = 64ll << 20;
    int canFrames = 100000;
    qint64 bridgeBytes = 256ll << 20;
    int propertyCalls = 200000;
    int memoryPorts = 1000;
    // Memory figures hardly vary; creating 1,000 serial ports takes seconds.
    int memoryRepetitions = 3;
    // pcom-gui's hex terminal receiving a stream (suite "gui").
    qint64 guiBytes = 100ll << 20;
    int guiRepetitions = 3;

    // Suites to run; empty means all.
    QStringList only;
    // The command-line host for the bridge suite; empty when not built.
    QString pcomPath;

    bool wants(const QString &suite) const { return only.isEmpty() || only.contains(suite); }

    static BenchConfig full() { return BenchConfig(); }

    static BenchConfig quickConfig()
    {
        BenchConfig c;
        c.quick = true;
        c.repetitions = 3;
        c.tcpBytes = 256ll << 20;
        c.udpDatagrams = 30000;
        c.serialBytes = 16ll << 20;
        c.canFrames = 10000;
        c.bridgeBytes = 64ll << 20;
        c.propertyCalls = 30000;
        c.memoryRepetitions = 1;
        c.guiBytes = 32ll << 20;
        c.guiRepetitions = 1;
        return c;
    }
};
