#include "bench/BenchLog.h"

#include "host/Plugin_Com_Device.h"

#include <cstdio>

BenchLog *BenchLog::s_current = nullptr;

namespace {
// The lists only need the latest lines; a suite that floods the log must not
// grow them without bound.
const int kKeep = 50;
}

BenchLog::BenchLog(bool verbose) : m_verbose(verbose)
{
    s_current = this;
    Plugin_Com_Device::setLogInterface(this);
    m_previousHandler = qInstallMessageHandler(&BenchLog::messageHandler);
}

BenchLog::~BenchLog()
{
    qInstallMessageHandler(m_previousHandler);
    Plugin_Com_Device::setLogInterface(nullptr);
    s_current = nullptr;
}

void BenchLog::log(Type type, const QString &text)
{
    record(type == Error, type == Progress || type == Info, typeName(type), text);
}

void BenchLog::messageHandler(QtMsgType type, const QMessageLogContext &, const QString &text)
{
    if (!s_current)
        return;
    const bool error = type == QtCriticalMsg || type == QtFatalMsg || type == QtWarningMsg;
    static const char *const names[] = {"debug", "warning", "critical", "fatal", "info"};
    const int index = int(type);
    const QString prefix = QString::fromLatin1(index >= 0 && index < 5 ? names[index] : "qt");
    s_current->record(error, type == QtInfoMsg, prefix, text);
}

void BenchLog::record(bool error, bool progress, const QString &prefix, const QString &text)
{
    if (m_verbose)
        std::fprintf(stderr, "%s: %s\n", qPrintable(prefix), qPrintable(text));
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
