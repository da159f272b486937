#pragma once

#include "bench/BenchConfig.h"
#include "bench/BenchRow.h"

#include <QString>
#include <QVector>

// Resident memory of 1,000 idle (created, never opened) ports of each kind,
// against 1,000 of the unopened Qt objects that each kind wraps. Every
// figure comes from a fresh process (this program run with --memory-probe),
// so that no heap left over from another measurement hides the growth.
class MemoryBench
{
public:
    explicit MemoryBench(const BenchConfig &config);

    QVector<BenchRow> run();

    // The probe's side: "KIND:plugin|raw:COUNT". Prints the resident growth
    // in KiB, or an error; returns the exit status.
    static int probe(const QString &request);

private:
    double runProbe(const QString &typeKey, bool plugin, int count, QString *error) const;

    const BenchConfig &m_config;
};
