#include "tests/stress/FlatRun.h"

#include "tests/stress/EventWait.h"
#include "tests/support/ObjectCensus.h"
#include "tests/stress/ProcStats.h"
#include "tests/stress/StressReport.h"
#include "tests/stress/StressScale.h"

#include <QCoreApplication>
#include <QtTest>

namespace {
// Growth of the resident set that a run may show after its warm-up: the
// allocator keeps some pages, a leak of even 100 bytes a cycle shows.
constexpr qint64 kResidentTolerance = 512 * 1024;

#if defined(__SANITIZE_ADDRESS__)
// AddressSanitizer keeps freed memory in quarantine, so the resident set
// grows without a leak; its leak check covers memory instead.
constexpr bool kMeasureResident = false;
#else
constexpr bool kMeasureResident = true;
#endif

void processEvents()
{
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

// Lets the loop finish what the cycles left (deferred deletions, a relay's
// side of closed connections) until descriptors and objects stop changing.
void settle(const ObjectCensus &census)
{
    int quiet = 0;
    int fds = -1;
    int alive = -1;
    waitUntil([&] {
        const int nowFds = ProcStats::openFileDescriptors();
        const int nowAlive = census.alive();
        quiet = (nowFds == fds && nowAlive == alive) ? quiet + 1 : 0;
        fds = nowFds;
        alive = nowAlive;
        return quiet >= 5;
    }, 10000);
}
}

void runFlat(const QString &what, const std::function<bool(int)> &cycle)
{
    const int total = StressScale::cycles;
    const int warmUp = total / 10;
    ObjectCensus census;
    int failedAt = -1;
    for (int i = 0; i < warmUp && failedAt < 0; ++i) {
        if (!cycle(i))
            failedAt = i;
        if (i % 100 == 0)
            processEvents();
    }
    settle(census);
    const int fds = ProcStats::openFileDescriptors();
    const int alive = census.alive();
    const qint64 resident = ProcStats::residentBytes();

    for (int i = warmUp; i < total && failedAt < 0; ++i) {
        if (!cycle(i))
            failedAt = i;
        if (i % 100 == 0)
            processEvents();
    }
    settle(census);
    const int fdsAfter = ProcStats::openFileDescriptors();
    const int aliveAfter = census.alive();
    const qint64 residentAfter = ProcStats::residentBytes();

    QVERIFY2(failedAt < 0, qPrintable(QStringLiteral("%1: cycle %2 failed").arg(what).arg(failedAt)));
    QCOMPARE(fdsAfter, fds);
    QCOMPARE(aliveAfter, alive);
    if (kMeasureResident)
        QVERIFY2(residentAfter - resident < kResidentTolerance,
                 qPrintable(QStringLiteral("%1: resident set grew by %2 bytes").arg(what).arg(residentAfter - resident)));
    stressReport(QStringLiteral("leaks: %1: %2 cycles, descriptors %3 -> %4, live QObjects %5 -> %6, resident %7 KiB -> %8 KiB")
                     .arg(what).arg(total).arg(fds).arg(fdsAfter).arg(alive).arg(aliveAfter)
                     .arg(resident / 1024).arg(residentAfter / 1024));
}

