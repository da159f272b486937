#include "cli/StdoutWriter.h"

#include <cerrno>
#include <poll.h>
#include <unistd.h>

StdoutWriter::StdoutWriter(int fd)
    : m_fd(fd)
{
}

bool StdoutWriter::write(const QByteArray &data)
{
    if (m_failed)
        return false;
    qint64 done = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(m_fd, data.constData() + done, size_t(data.size() - done));
        if (n > 0) {
            done += n;
            m_bytesWritten += n;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            pollfd p{m_fd, POLLOUT, 0};
            ::poll(&p, 1, 1000);
            continue;
        }
        m_failed = true;
        return false;
    }
    return true;
}
