#include "bench/FdEndpoint.h"

#include <QSocketNotifier>

#include <unistd.h>

FdEndpoint::FdEndpoint(int fd, QObject *parent)
    : BenchEndpoint(parent), m_fd(fd), m_notifier(new QSocketNotifier(fd, QSocketNotifier::Read, this))
{
    connect(m_notifier, &QSocketNotifier::activated, this, &BenchEndpoint::readyRead);
}

qint64 FdEndpoint::write(const char *data, qint64 len)
{
    return ::write(m_fd, data, size_t(len));
}

qint64 FdEndpoint::read(char *buffer, qint64 maxLen)
{
    const ssize_t count = ::read(m_fd, buffer, size_t(maxLen));
    return count > 0 ? count : -1;
}
