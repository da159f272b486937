#include "tests/support/ProcStats.h"

#include <QDir>
#include <QFile>

#include <unistd.h>

int ProcStats::openFileDescriptors()
{
    // The listing itself holds one descriptor while it runs.
    return int(QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::System).size()) - 1;
}

qint64 ProcStats::residentBytes()
{
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return -1;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    if (fields.size() < 2)
        return -1;
    return fields.at(1).toLongLong() * sysconf(_SC_PAGESIZE);
}
