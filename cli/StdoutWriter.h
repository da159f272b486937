#pragma once

#include <QByteArray>

// Writes to standard output completely before returning, also when the
// descriptor is shared with a non-blocking terminal.
class StdoutWriter
{
public:
    explicit StdoutWriter(int fd = 1);

    // False when the output is gone (closed pipe) or fails.
    bool write(const QByteArray &data);
    qint64 bytesWritten() const { return m_bytesWritten; }
    bool failed() const { return m_failed; }

private:
    int m_fd;
    qint64 m_bytesWritten = 0;
    bool m_failed = false;
};
