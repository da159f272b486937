#pragma once

#include <QString>

// The kernel's own loopback limit: blocking POSIX sockets, a writer thread
// and the calling thread reading, the same write size as the Qt runs.
class PosixStream
{
public:
    struct Result
    {
        bool ok = false;
        double seconds = 0;
        QString error;
    };

    static Result run(qint64 total, int chunkSize);
};
