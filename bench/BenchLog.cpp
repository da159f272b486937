#include "bench/BenchLog.h"

namespace {
// The lists only need the latest lines; a suite that floods the log must not
// grow them without bound.
const int kKeep = 50;
}

BenchLog::BenchLog(bool verbose)
{
    m_receiver.setEcho(verbose);
    connect(&m_receiver, &LogReceiver::lineLogged, this, &BenchLog::record, Qt::DirectConnection);
    m_receiver.install();
}

void BenchLog::record(const QString &kind, const QString &text)
{
    const bool error = kind == QLatin1String("error") || kind == QLatin1String("critical")
                       || kind == QLatin1String("warning");
    const bool progress = kind == QLatin1String("progress") || kind == QLatin1String("info");
    QStringList *list = error ? &m_errors : progress ? &m_progress : nullptr;
    if (!list)
        return;
    if (list->size() >= kKeep)
        list->removeFirst();
    list->append(text);
}

QStringList BenchLog::takeErrors()
{
    QStringList out;
    out.swap(m_errors);
    return out;
}

QStringList BenchLog::takeProgress()
{
    QStringList out;
    out.swap(m_progress);
    return out;
}
