#pragma once

#include <QtGlobal>

// What the process holds, read from /proc/self.
class ProcStats
{
public:
    // Entries of /proc/self/fd: the open file descriptors.
    static int openFileDescriptors();
    // Resident set size in bytes, from /proc/self/statm.
    static qint64 residentBytes();
};
