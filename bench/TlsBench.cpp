#include "bench/TlsBench.h"

#include "bench/RelayRun.h"

#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

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

// A CA and a certificate that it signed for 127.0.0.1; false when openssl
// is missing or fails.
bool makeCertificates(const QTemporaryDir &dir)
{
    const QStringList key{QStringLiteral("-newkey"), QStringLiteral("ec"), QStringLiteral("-pkeyopt"),
                          QStringLiteral("ec_paramgen_curve:prime256v1"), QStringLiteral("-nodes"),
                          QStringLiteral("-days"), QStringLiteral("2")};
    const auto openssl = [&key](QStringList arguments) {
        QProcess process;
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.start(QStringLiteral("openssl"), arguments << key);
        return process.waitForFinished(30000) && process.exitStatus() == QProcess::NormalExit
               && process.exitCode() == 0;
    };
    return openssl({QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-subj"), QStringLiteral("/CN=bench ca"),
                    QStringLiteral("-keyout"), dir.filePath(QStringLiteral("ca.key")), QStringLiteral("-out"),
                    dir.filePath(QStringLiteral("ca.pem"))})
           && openssl({QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-subj"), QStringLiteral("/CN=127.0.0.1"),
                       QStringLiteral("-addext"), QStringLiteral("basicConstraints=CA:FALSE"), QStringLiteral("-addext"),
                       QStringLiteral("subjectAltName=IP:127.0.0.1"), QStringLiteral("-CA"),
                       dir.filePath(QStringLiteral("ca.pem")), QStringLiteral("-CAkey"),
                       dir.filePath(QStringLiteral("ca.key")), QStringLiteral("-keyout"),
                       dir.filePath(QStringLiteral("relay.key")), QStringLiteral("-out"),
                       dir.filePath(QStringLiteral("relay.pem"))});
}
} // namespace

TlsBench::TlsBench(const BenchConfig &config, const QString &pluginFile)
    : m_config(config), m_pluginFile(pluginFile)
{
}

QVector<BenchRow> TlsBench::run()
{
    const qint64 total = m_config.bridgeBytes / 2;
    const int rounds = m_config.quick ? 1000 : 5000;
    BenchRow throughput = row(QStringLiteral("TLS relay tcpServer->tcpClient"), QStringLiteral("MiB/s"),
                              BenchRow::AtLeast, 1.0);
    BenchRow cpu = row(QStringLiteral("TLS relay CPU time for %1 MiB").arg(total >> 20), QStringLiteral("s"),
                       BenchRow::AtMost, 1.2);
    BenchRow memory = row(QStringLiteral("TLS relay peak resident memory"), QStringLiteral("MiB"));
    BenchRow roundTrip = row(QStringLiteral("TLS relay round trip, 1 byte, median"), QStringLiteral("us"));

    QStringList notes;
    const QString socat = QStandardPaths::findExecutable(QStringLiteral("socat"));
    QTemporaryDir dir;
    if (m_config.pcomPath.isEmpty() || !QFileInfo(m_config.pcomPath).isExecutable())
        notes.append(QStringLiteral("pcom not built"));
    if (socat.isEmpty())
        notes.append(QStringLiteral("socat not installed (scripts/bootstrap installs it)"));
    if (!dir.isValid() || !makeCertificates(dir))
        notes.append(QStringLiteral("openssl could not make the certificates"));
    if (!notes.isEmpty()) {
        throughput.note = notes.join(QStringLiteral("; "));
        throughput.failed = true;
        return {throughput, cpu, memory, roundTrip};
    }
    const QString cert = dir.filePath(QStringLiteral("relay.pem"));
    const QString key = dir.filePath(QStringLiteral("relay.key"));
    const QString ca = dir.filePath(QStringLiteral("ca.pem"));
    const QString serverTls = QStringLiteral(",bind=127.0.0.1,reuseaddr,cert=%1,key=%2,verify=0").arg(cert, key);
    const QString clientTls = QStringLiteral(",cafile=%1,verify=1").arg(ca);

    // The wrappers: plain to TLS in front of the relay (retrying while the
    // relay starts), TLS to plain behind it.
    const QList<RelayRun::Helper> wrappers{
        {socat, {QStringLiteral("TCP-LISTEN:%FRONT%,bind=127.0.0.1,reuseaddr"),
                 QStringLiteral("OPENSSL:127.0.0.1:%LISTEN%,retry=200,interval=0.05") + clientTls}},
        {socat, {QStringLiteral("OPENSSL-LISTEN:%BACK%") + serverTls, QStringLiteral("TCP:127.0.0.1:%SINK%")}}};
    RelayRun pcomRun(m_config.pcomPath,
                     {QStringLiteral("bridge"), QStringLiteral("-q"), QStringLiteral("--plugin"), m_pluginFile,
                      QStringLiteral("tcpServer"), QStringLiteral("address=127.0.0.1"), QStringLiteral("port=%LISTEN%"),
                      QStringLiteral("--"), QStringLiteral("tcpClient"), QStringLiteral("address=127.0.0.1"),
                      QStringLiteral("port=%BACK%"), QStringLiteral("--tls-cert"), cert, QStringLiteral("--tls-key"), key,
                      QStringLiteral("--tls-ca"), ca});
    RelayRun socatRun(socat, {QStringLiteral("OPENSSL-LISTEN:%LISTEN%") + serverTls,
                              QStringLiteral("OPENSSL:127.0.0.1:%BACK%") + clientTls});
    pcomRun.setHelpers(wrappers);
    socatRun.setHelpers(wrappers);

    QString errors[2];
    const auto measure = [&](RelayRun &relay, int side) {
        const auto add = [side](BenchRow &r, double value) { (side == 0 ? r.plugin : r.baseline).add(value); };
        const RelayRun::Result fast = relay.stream(total, kTimeoutMs);
        if (fast.ok) {
            add(throughput, total / (1024.0 * 1024.0) / fast.seconds);
            if (fast.cpuSeconds >= 0)
                add(cpu, fast.cpuSeconds);
            if (fast.peakMiB >= 0)
                add(memory, fast.peakMiB);
        }
        const RelayRun::Result trips = relay.roundTrips(rounds, kTimeoutMs);
        if (trips.ok)
            add(roundTrip, trips.roundTripMicroseconds);
        for (const RelayRun::Result *r : {&fast, &trips}) {
            if (!r->ok && errors[side].isEmpty())
                errors[side] = r->error;
        }
    };
    for (int rep = 0; rep < m_config.repetitions; ++rep) {
        const bool pcomFirst = rep % 2 == 0;
        measure(pcomFirst ? pcomRun : socatRun, pcomFirst ? 0 : 1);
        measure(pcomFirst ? socatRun : pcomRun, pcomFirst ? 1 : 0);
    }
    if (!errors[0].isEmpty())
        notes.append(QStringLiteral("pcom: %1").arg(errors[0]));
    if (!errors[1].isEmpty())
        notes.append(QStringLiteral("socat: %1").arg(errors[1]));
    notes.append(QStringLiteral("TLS 1.3 both ways, EC P-256"));
    throughput.note = notes.join(QStringLiteral("; "));
    throughput.failed = !errors[0].isEmpty() || !errors[1].isEmpty();
    return {throughput, cpu, memory, roundTrip};
}
