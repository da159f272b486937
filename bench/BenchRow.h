#pragma once

#include "bench/Samples.h"

#include <QString>

// One line of the report: the same work through the plug-in and through a
// baseline, and what the ratio plug-in / baseline should be.
struct BenchRow
{
    enum Target {
        NoTarget,
        AtLeast, // higher is better: ratio >= targetRatio
        AtMost,  // lower is better: ratio <= targetRatio
    };

    QString path;
    QString unit;
    QString baselineName;
    // Sample i of both sides comes from the same repetition, run back to back.
    Samples plugin;
    Samples baseline;
    Target target = NoTarget;
    double targetRatio = 0;
    // Why a figure is missing, what was lost, or anything else worth saying.
    QString note;
    // A measurement that should have run did not (a part that this build
    // does not have is no failure).
    bool failed = false;

    bool hasRatio() const;
    // The median of the per-repetition ratios when both sides have every
    // repetition: a change of machine load between repetitions then cancels
    // out. Otherwise the ratio of the medians.
    double ratio() const;
    bool targetMet() const;
};
