#include "bench/BridgeBench.h"

#include "bench/RelayRun.h"

#include <QFileInfo>
#include <QStandardPaths>

namespace {
const int kTimeoutMs = 120000;
}

BridgeBench::BridgeBench(const BenchConfig &config, const QString &pluginFile)
    : m_config(config), m_pluginFile(pluginFile)
{
}

QVector<BenchRow> BridgeBench::run()
{
    const qint64 total = m_config.bridgeBytes;
    BenchRow throughput;
    throughput.path = QStringLiteral("bridge tcpServer->tcpClient relay");
    throughput.unit = QStringLiteral("MiB/s");
    throughput.baselineName = QStringLiteral("socat");
    throughput.target = BenchRow::AtLeast;
    throughput.targetRatio = 1.0;

    BenchRow cpu;
    cpu.path = QStringLiteral("bridge relay CPU time for %1 MiB").arg(total >> 20);
    cpu.unit = QStringLiteral("s");
    cpu.baselineName = QStringLiteral("socat");

    BenchRow memory;
    memory.path = QStringLiteral("bridge relay peak resident memory");
    memory.unit = QStringLiteral("MiB");
    memory.baselineName = QStringLiteral("socat");

    QStringList notes;
    const bool havePcom = !m_config.pcomPath.isEmpty() && QFileInfo(m_config.pcomPath).isExecutable();
    if (!havePcom)
        notes.append(QStringLiteral("pcom not built"));
    const QString socat = QStandardPaths::findExecutable(QStringLiteral("socat"));
    if (socat.isEmpty())
        notes.append(QStringLiteral("socat not installed (scripts/bootstrap installs it)"));

    RelayRun pcomRun(m_config.pcomPath,
                     {QStringLiteral("bridge"), QStringLiteral("-q"), QStringLiteral("--plugin"), m_pluginFile,
                      QStringLiteral("tcpServer"), QStringLiteral("address=127.0.0.1"), QStringLiteral("port=%LISTEN%"),
                      QStringLiteral("--"), QStringLiteral("tcpClient"), QStringLiteral("address=127.0.0.1"),
                      QStringLiteral("port=%SINK%")});
    RelayRun socatRun(socat, {QStringLiteral("TCP-LISTEN:%LISTEN%,bind=127.0.0.1,reuseaddr"),
                              QStringLiteral("TCP:127.0.0.1:%SINK%")});

    QString pcomError;
    QString socatError;
    auto measure = [&](RelayRun &relay, Samples *rate, Samples *time, Samples *peak, QString *error) {
        const RelayRun::Result r = relay.run(total, kTimeoutMs);
        if (!r.ok) {
            *error = r.error;
            return;
        }
        rate->add(total / (1024.0 * 1024.0) / r.seconds);
        if (r.cpuSeconds >= 0)
            time->add(r.cpuSeconds);
        if (r.peakMiB >= 0)
            peak->add(r.peakMiB);
    };
    for (int rep = 0; rep < m_config.repetitions; ++rep) {
        const bool pcomFirst = rep % 2 == 0;
        for (int side = 0; side < 2; ++side) {
            if ((side == 0) == pcomFirst) {
                if (havePcom)
                    measure(pcomRun, &throughput.plugin, &cpu.plugin, &memory.plugin, &pcomError);
            } else if (!socat.isEmpty()) {
                measure(socatRun, &throughput.baseline, &cpu.baseline, &memory.baseline, &socatError);
            }
        }
    }
    if (!pcomError.isEmpty())
        notes.append(QStringLiteral("pcom: %1").arg(pcomError));
    if (!socatError.isEmpty())
        notes.append(QStringLiteral("socat: %1").arg(socatError));
    throughput.note = notes.join(QStringLiteral("; "));
    throughput.failed = socat.isEmpty() || !pcomError.isEmpty() || !socatError.isEmpty();
    return {throughput, cpu, memory};
}
