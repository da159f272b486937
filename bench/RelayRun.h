#pragma once

#include "bench/BenchRow.h"

#include <QList>
#include <QString>
#include <QStringList>

// One relay process between a loopback source and a loopback sink: the
// source connects to the relay's listening port, the relay connects on to
// the sink. The source and the sink are blocking POSIX sockets on threads
// of their own, so that the relay is what is measured.
class RelayRun
{
public:
    struct Result
    {
        bool ok = false;
        double seconds = 0;
        // CPU time (user and system, every thread) that the relay used while
        // the bytes went through.
        double cpuSeconds = 0;
        // The relay's peak resident memory (VmHWM) in MiB, -1 when unknown.
        double peakMiB = -1;
        // The median time of one round trip, in microseconds.
        double roundTripMicroseconds = 0;
        QString error;
    };

    // `arguments` may contain %LISTEN% and %SINK%, replaced by the relay's
    // listening port and the sink's port.
    RelayRun(const QString &program, const QStringList &arguments);

    // Processes that stand between the source and the relay or between the
    // relay and the sink (a TLS wrapper, say), each a program and its
    // arguments, with the relay's placeholders and two more: %FRONT%, where
    // the source then connects instead of %LISTEN%, and %BACK%, a free port
    // on which a helper listens for the relay. They start before the relay,
    // which starts once %BACK% is taken; their CPU time is not the relay's.
    struct Helper
    {
        QString program;
        QStringList arguments;
    };
    void setHelpers(const QList<Helper> &helpers) { m_helpers = helpers; }

    // `total` bytes from the source to the sink. A sink rate above 0 (bytes
    // per second) makes the sink a slow consumer that reads no faster.
    Result stream(qint64 total, int timeoutMs, double sinkBytesPerSecond = 0);
    // One byte from the source through the relay to a sink that echoes it
    // back, `rounds` times; both ends send without Nagle's delay.
    Result roundTrips(int rounds, int timeoutMs);

    // The figures of pcom's relay beside socat's: throughput, CPU time,
    // peak memory and the 1-byte round trip.
    struct Rows
    {
        BenchRow throughput;
        BenchRow cpu;
        BenchRow memory;
        BenchRow roundTrip;
    };
    static BenchRow socatRow(const QString &path, const QString &unit, BenchRow::Target target = BenchRow::NoTarget,
                             double targetRatio = 0);
    // What the comparison lacks (pcom not built, socat not installed);
    // socat's path goes to *socat.
    static QStringList missing(const QString &pcomPath, QString *socat);
    // pcom bridge from a tcpServer port on %LISTEN% to a tcpClient port on
    // `sinkPort` (a placeholder), `options` after.
    static RelayRun pcomBridge(const QString &pcomPath, const QString &pluginFile, const QString &sinkPort,
                               const QStringList &options = {});
    // One repetition of the stream of `total` bytes and of `rounds` round
    // trips, added to the plug-in's side of `rows` or the baseline's; the
    // first error goes to *error.
    void measure(qint64 total, int rounds, bool plugin, Rows *rows, QString *error);
    static constexpr int timeoutMs = 120000;

    // CPU time of every thread of a process, in seconds; -1 when unknown.
    static double processCpuSeconds(qint64 pid);
    // Peak resident memory of a process in MiB; -1 when unknown.
    static double processPeakMiB(qint64 pid);

private:
    QString m_program;
    QStringList m_arguments;
    QList<Helper> m_helpers;
};
