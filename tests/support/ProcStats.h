#pragma once

#include <QDir>
#include <QFile>

#include <unistd.h>

// What the process holds, read from /proc/self.
namespace ProcStats {

// Entries of /proc/self/fd: the open file descriptors. The listing itself
// holds one while it runs.
inline int openFileDescriptors()
{
    const QDir fds(QStringLiteral("/proc/self/fd"));
    return fds.entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::System).size() - 1;
}

// Resident set size in bytes, from /proc/self/statm; -1 if unreadable.
inline qint64 residentBytes()
{
    QFile statm(QStringLiteral("/proc/self/statm"));
    const QByteArray pages = statm.open(QIODevice::ReadOnly) ? statm.readAll().split(' ').value(1) : QByteArray();
    return pages.isEmpty() ? -1 : pages.toLongLong() * sysconf(_SC_PAGESIZE);
}

} // namespace ProcStats
