#pragma once

#include "bench/BenchEndpoint.h"

class QSocketNotifier;

// A non-blocking file descriptor (the master side of a pseudo-terminal),
// the fixed far end of the serial measurements.
class FdEndpoint : public BenchEndpoint
{
    Q_OBJECT
public:
    explicit FdEndpoint(int fd, QObject *parent = nullptr);

    qint64 write(const char *data, qint64 len) override;
    qint64 read(char *buffer, qint64 maxLen) override;

private:
    int m_fd;
    QSocketNotifier *m_notifier;
};
