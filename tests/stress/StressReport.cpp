#include "tests/stress/StressReport.h"

#include <QLoggingCategory>

namespace {
Q_LOGGING_CATEGORY(lcStress, "pcom.stress")
}

void stressReport(const QString &line)
{
    qCInfo(lcStress).noquote() << line;
}
