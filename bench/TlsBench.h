#pragma once

#include "bench/BenchConfig.h"
#include "bench/BenchRow.h"

#include <QVector>

// The TLS relay: `pcom bridge` from a TLS tcpServer port to a TLS tcpClient
// port (it decrypts and encrypts every byte) against socat doing the same
// with OPENSSL-LISTEN and OPENSSL, on one loopback path: a plain source, a
// socat that wraps it in TLS, the relay, a socat that unwraps it, a plain
// sink. Throughput, the relay's CPU time and peak memory, and the 1-byte
// round trip. The certificates (EC P-256) are made by openssl for the run.
class TlsBench
{
public:
    TlsBench(const BenchConfig &config, const QString &pluginFile);

    QVector<BenchRow> run();

private:
    const BenchConfig &m_config;
    QString m_pluginFile;
};
