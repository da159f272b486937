#include "bench/BridgeBench.h"

#include "bench/RelayRun.h"

#include <QFileInfo>
#include <QStandardPaths>

#include <functional>

namespace {
const int kTimeoutMs = 120000;

BenchRow row(const QString &path, const QString &unit, BenchRow::Target target = BenchRow::NoTarget,
             double targetRatio = 0)
{
    BenchRow r;
    r.path = path;
    r.unit = unit;
    r.baselineName = QStringLiteral("socat");
    r.target = target;
    r.targetRatio = targetRatio;
    return r;
}
} // namespace

BridgeBench::BridgeBench(const BenchConfig &config, const QString &pluginFile)
    : m_config(config), m_pluginFile(pluginFile)
{
}

QVector<BenchRow> BridgeBench::run()
{
    const qint64 total = m_config.bridgeBytes;
    const qint64 slowTotal = m_config.quick ? 16ll << 20 : 32ll << 20;
    const int rounds = m_config.quick ? 2000 : 10000;
    BenchRow throughput = row(QStringLiteral("bridge tcpServer->tcpClient relay"), QStringLiteral("MiB/s"),
                              BenchRow::AtLeast, 1.0);
    BenchRow cpu = row(QStringLiteral("bridge relay CPU time for %1 MiB").arg(total >> 20), QStringLiteral("s"),
                       BenchRow::AtMost, 1.2);
    BenchRow memory = row(QStringLiteral("bridge relay peak resident memory"), QStringLiteral("MiB"));
    BenchRow roundTrip = row(QStringLiteral("bridge round trip, 1 byte, no Nagle, median"), QStringLiteral("us"),
                             BenchRow::AtMost, 1.05);
    BenchRow slowMemory =
        row(QStringLiteral("bridge peak memory, sink at %1 MiB/s").arg(slowSinkBytesPerSecond / (1024 * 1024)),
            QStringLiteral("MiB"));

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
    // One repetition of every figure for one relay; the first error is kept.
    const auto measure = [&](RelayRun &relay, bool isPcom, bool slowToo) {
        QString *error = isPcom ? &pcomError : &socatError;
        const auto side = [isPcom](BenchRow &r) -> Samples & { return isPcom ? r.plugin : r.baseline; };
        const auto keep = [&](const RelayRun::Result &r) {
            if (!r.ok && error->isEmpty())
                *error = r.error;
            return r.ok;
        };
        const RelayRun::Result fast = relay.stream(total, kTimeoutMs);
        if (keep(fast)) {
            side(throughput).add(total / (1024.0 * 1024.0) / fast.seconds);
            if (fast.cpuSeconds >= 0)
                side(cpu).add(fast.cpuSeconds);
            if (fast.peakMiB >= 0)
                side(memory).add(fast.peakMiB);
        }
        const RelayRun::Result trips = relay.roundTrips(rounds, kTimeoutMs);
        if (keep(trips))
            side(roundTrip).add(trips.roundTripMicroseconds);
        if (!slowToo)
            return;
        const RelayRun::Result slow = relay.stream(slowTotal, kTimeoutMs, slowSinkBytesPerSecond);
        if (keep(slow) && slow.peakMiB >= 0)
            side(slowMemory).add(slow.peakMiB);
    };
    for (int rep = 0; rep < m_config.repetitions; ++rep) {
        // The slow sink takes seconds and its figure hardly varies.
        const bool slowToo = rep < 2;
        const bool pcomFirst = rep % 2 == 0;
        for (int turn = 0; turn < 2; ++turn) {
            if ((turn == 0) == pcomFirst) {
                if (havePcom)
                    measure(pcomRun, true, slowToo);
            } else if (!socat.isEmpty()) {
                measure(socatRun, false, slowToo);
            }
        }
    }
    if (!pcomError.isEmpty())
        notes.append(QStringLiteral("pcom: %1").arg(pcomError));
    if (!socatError.isEmpty())
        notes.append(QStringLiteral("socat: %1").arg(socatError));
    throughput.note = notes.join(QStringLiteral("; "));
    throughput.failed = socat.isEmpty() || !pcomError.isEmpty() || !socatError.isEmpty();
    slowMemory.note = QStringLiteral("%1 MiB through; flat: about the fast relay's peak").arg(slowTotal >> 20);
    return {throughput, cpu, memory, roundTrip, slowMemory};
}
