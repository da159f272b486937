#include "bench/PosixStream.h"

#include <QElapsedTimer>

#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {
QString systemError(const char *what)
{
    return QStringLiteral("%1: %2").arg(QString::fromLatin1(what), QString::fromLocal8Bit(std::strerror(errno)));
}

sockaddr_in loopback(quint16 port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}
}

PosixStream::Result PosixStream::run(qint64 total, int chunkSize)
{
    Result result;
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listener < 0) {
        result.error = systemError("socket");
        return result;
    }
    sockaddr_in address = loopback(0);
    socklen_t length = sizeof address;
    if (::bind(listener, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0
        || ::listen(listener, 1) != 0
        || ::getsockname(listener, reinterpret_cast<sockaddr *>(&address), &length) != 0) {
        result.error = systemError("listen");
        ::close(listener);
        return result;
    }

    std::atomic<bool> start{false};
    std::atomic<bool> writerFailed{false};
    std::thread writer([&, port = ntohs(address.sin_port)] {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in peer = loopback(port);
        if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr *>(&peer), sizeof peer) != 0) {
            writerFailed = true;
            if (fd >= 0)
                ::close(fd);
            return;
        }
        while (!start)
            std::this_thread::yield();
        std::vector<char> chunk(static_cast<size_t>(chunkSize), 'p');
        qint64 sent = 0;
        while (sent < total) {
            const ssize_t n = ::write(fd, chunk.data(), size_t(qMin<qint64>(chunkSize, total - sent)));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                writerFailed = true;
                break;
            }
            sent += n;
        }
        ::close(fd);
    });

    // The writer connects at once; a bounded wait keeps a failed connect from
    // blocking the run.
    pollfd incoming{listener, POLLIN, 0};
    const int fd = ::poll(&incoming, 1, 5000) == 1 ? ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC) : -1;
    ::close(listener);
    if (fd < 0) {
        result.error = systemError("accept");
        start = true;
        writer.join();
        return result;
    }
    std::vector<char> buffer(static_cast<size_t>(chunkSize));
    QElapsedTimer timer;
    timer.start();
    start = true;
    qint64 received = 0;
    while (received < total) {
        const ssize_t n = ::read(fd, buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        received += n;
    }
    const double seconds = timer.nsecsElapsed() / 1e9;
    ::close(fd);
    writer.join();
    if (received < total || writerFailed) {
        result.error = QStringLiteral("the POSIX stream stopped after %1 of %2 bytes").arg(received).arg(total);
        return result;
    }
    result.ok = true;
    result.seconds = seconds;
    return result;
}
