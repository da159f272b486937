#include "bench/TlsBench.h"

#include "bench/RelayRun.h"

#include <QProcess>
#include <QTemporaryDir>

namespace {
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
    RelayRun::Rows rows{RelayRun::socatRow(QStringLiteral("TLS relay tcpServer->tcpClient"), QStringLiteral("MiB/s"),
                                           BenchRow::AtLeast, 1.0),
                        RelayRun::socatRow(QStringLiteral("TLS relay CPU time for %1 MiB").arg(total >> 20),
                                           QStringLiteral("s"), BenchRow::AtMost, 1.2),
                        RelayRun::socatRow(QStringLiteral("TLS relay peak resident memory"), QStringLiteral("MiB")),
                        RelayRun::socatRow(QStringLiteral("TLS relay round trip, 1 byte, median"), QStringLiteral("us"))};

    QString socat;
    QStringList notes = RelayRun::missing(m_config.pcomPath, &socat);
    QTemporaryDir dir;
    if (!dir.isValid() || !makeCertificates(dir))
        notes.append(QStringLiteral("openssl could not make the certificates"));
    if (!notes.isEmpty()) {
        rows.throughput.note = notes.join(QStringLiteral("; "));
        rows.throughput.failed = true;
        return {rows.throughput, rows.cpu, rows.memory, rows.roundTrip};
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
    RelayRun pcomRun = RelayRun::pcomBridge(m_config.pcomPath, m_pluginFile, QStringLiteral("%BACK%"),
                                            {QStringLiteral("--tls-cert"), cert, QStringLiteral("--tls-key"), key,
                                             QStringLiteral("--tls-ca"), ca});
    RelayRun socatRun(socat, {QStringLiteral("OPENSSL-LISTEN:%LISTEN%") + serverTls,
                              QStringLiteral("OPENSSL:127.0.0.1:%BACK%") + clientTls});
    pcomRun.setHelpers(wrappers);
    socatRun.setHelpers(wrappers);

    QString errors[2];
    for (int rep = 0; rep < m_config.repetitions; ++rep) {
        const bool pcomFirst = rep % 2 == 0;
        for (const bool isPcom : {pcomFirst, !pcomFirst})
            (isPcom ? pcomRun : socatRun).measure(total, rounds, isPcom, &rows, &errors[isPcom ? 0 : 1]);
    }
    if (!errors[0].isEmpty())
        notes.append(QStringLiteral("pcom: %1").arg(errors[0]));
    if (!errors[1].isEmpty())
        notes.append(QStringLiteral("socat: %1").arg(errors[1]));
    notes.append(QStringLiteral("TLS 1.3 both ways, EC P-256"));
    rows.throughput.note = notes.join(QStringLiteral("; "));
    rows.throughput.failed = !errors[0].isEmpty() || !errors[1].isEmpty();
    return {rows.throughput, rows.cpu, rows.memory, rows.roundTrip};
}
