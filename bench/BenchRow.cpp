#include "bench/BenchRow.h"

namespace {
Samples pairedRatios(const Samples &plugin, const Samples &baseline)
{
    Samples ratios;
    if (plugin.count() != baseline.count())
        return ratios;
    for (int i = 0; i < plugin.count(); ++i) {
        if (baseline.values()[i] != 0)
            ratios.add(plugin.values()[i] / baseline.values()[i]);
    }
    return ratios;
}
}

bool BenchRow::hasRatio() const
{
    if (plugin.isEmpty() || baseline.isEmpty())
        return false;
    return !pairedRatios(plugin, baseline).isEmpty() || baseline.median() != 0;
}

double BenchRow::ratio() const
{
    if (!hasRatio())
        return 0;
    const Samples ratios = pairedRatios(plugin, baseline);
    if (ratios.count() == plugin.count() || baseline.median() == 0)
        return ratios.median();
    return plugin.median() / baseline.median();
}

bool BenchRow::targetMet() const
{
    if (target == NoTarget || !hasRatio())
        return true;
    return target == AtLeast ? ratio() >= targetRatio : ratio() <= targetRatio;
}
