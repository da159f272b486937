#include "bench/BridgeBench.h"

#include "bench/RelayRun.h"

BridgeBench::BridgeBench(const BenchConfig &config, const QString &pluginFile)
    : m_config(config), m_pluginFile(pluginFile)
{
}

QVector<BenchRow> BridgeBench::run()
{
    const qint64 total = m_config.bridgeBytes;
    const qint64 slowTotal = m_config.quick ? 16ll << 20 : 32ll << 20;
    const int rounds = m_config.quick ? 2000 : 10000;
    RelayRun::Rows rows{
        RelayRun::socatRow(QStringLiteral("bridge tcpServer->tcpClient relay"), QStringLiteral("MiB/s"),
                           BenchRow::AtLeast, 1.0),
        RelayRun::socatRow(QStringLiteral("bridge relay CPU time for %1 MiB").arg(total >> 20), QStringLiteral("s"),
                           BenchRow::AtMost, 1.2),
        RelayRun::socatRow(QStringLiteral("bridge relay peak resident memory"), QStringLiteral("MiB")),
        RelayRun::socatRow(QStringLiteral("bridge round trip, 1 byte, no Nagle, median"), QStringLiteral("us"),
                           BenchRow::AtMost, 1.05)};
    BenchRow slowMemory = RelayRun::socatRow(
        QStringLiteral("bridge peak memory, sink at %1 MiB/s").arg(slowSinkBytesPerSecond / (1024 * 1024)),
        QStringLiteral("MiB"));

    QString socat;
    QStringList notes = RelayRun::missing(m_config.pcomPath, &socat);
    const bool havePcom = !notes.contains(QStringLiteral("pcom not built"));
    RelayRun pcomRun = RelayRun::pcomBridge(m_config.pcomPath, m_pluginFile, QStringLiteral("%SINK%"));
    RelayRun socatRun(socat, {QStringLiteral("TCP-LISTEN:%LISTEN%,bind=127.0.0.1,reuseaddr"),
                              QStringLiteral("TCP:127.0.0.1:%SINK%")});

    QString pcomError;
    QString socatError;
    // One repetition of every figure for one relay; the first error is kept.
    const auto measure = [&](RelayRun &relay, bool isPcom, bool slowToo) {
        QString *error = isPcom ? &pcomError : &socatError;
        relay.measure(total, rounds, isPcom, &rows, error);
        if (!slowToo)
            return;
        const RelayRun::Result slow = relay.stream(slowTotal, RelayRun::timeoutMs, slowSinkBytesPerSecond);
        if (!slow.ok && error->isEmpty())
            *error = slow.error;
        if (slow.ok && slow.peakMiB >= 0)
            (isPcom ? slowMemory.plugin : slowMemory.baseline).add(slow.peakMiB);
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
    rows.throughput.note = notes.join(QStringLiteral("; "));
    rows.throughput.failed = socat.isEmpty() || !pcomError.isEmpty() || !socatError.isEmpty();
    slowMemory.note = QStringLiteral("%1 MiB through; flat: about the fast relay's peak").arg(slowTotal >> 20);
    return {rows.throughput, rows.cpu, rows.memory, rows.roundTrip, slowMemory};
}
