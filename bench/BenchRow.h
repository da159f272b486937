#pragma once

#include "Samples.h"

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
    Samples plugin;
    Samples baseline;
    Target target = NoTarget;
    double targetRatio = 0;
    // Why a figure is missing, what was lost, or anything else worth saying.
    QString note;

    bool hasRatio() const { return !plugin.isEmpty() && !baseline.isEmpty() && baseline.median() != 0; }
    double ratio() const { return hasRatio() ? plugin.median() / baseline.median() : 0; }
    bool targetMet() const
    {
        if (target == NoTarget || !hasRatio())
            return true;
        return target == AtLeast ? ratio() >= targetRatio : ratio() <= targetRatio;
    }
};
