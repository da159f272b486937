#pragma once

#include <QtGlobal>

// How much each stress test moves. The sanitizer build runs our code several
// times slower, so it moves less where our code does the work; the plain
// build runs the full sizes.
namespace StressScale {
constexpr qint64 MiB = 1024 * 1024;
#ifdef PCOM_STRESS_REDUCED
constexpr qint64 tcpBytes = 64 * MiB;
constexpr qint64 serialBytes = 16 * MiB;
constexpr int canFrames = 100000;
constexpr int connections = 5000;
constexpr int cycles = 2000;
constexpr qint64 servedBytes = 8 * MiB;
#else
constexpr qint64 tcpBytes = 256 * MiB;
constexpr qint64 serialBytes = 64 * MiB;
constexpr int canFrames = 100000;
constexpr int connections = 5000;
constexpr int cycles = 10000;
// Each way through each link of one pcom serve process.
constexpr qint64 servedBytes = 64 * MiB;
#endif
// Bound of one transfer: far above what the machine needs, well inside the
// test's time-out.
constexpr int transferTimeoutMs = 200000;
}
