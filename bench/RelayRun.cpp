#include "bench/RelayRun.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTcpServer>
#include <QTemporaryFile>

#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {
const int kChunk = 64 * 1024;

sockaddr_in loopback(quint16 port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

quint16 freeTcpPort()
{
    QTcpServer probe;
    return probe.listen(QHostAddress::LocalHost, 0) ? probe.serverPort() : 0;
}

// A connection to the relay's listening port, retried while the relay
// starts; -1 when it never listens.
int connectWithRetry(quint16 port, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < timeoutMs) {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address = loopback(port);
        if (fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0)
            return fd;
        if (fd >= 0)
            ::close(fd);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return -1;
}

double steadySeconds()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}
}

RelayRun::RelayRun(const QString &program, const QStringList &arguments)
    : m_program(program), m_arguments(arguments)
{
}

double RelayRun::processCpuSeconds(qint64 pid)
{
    // schedstat gives nanoseconds per thread; stat only clock ticks.
    const QDir tasks(QStringLiteral("/proc/%1/task").arg(pid));
    const QStringList threads = tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    if (threads.isEmpty())
        return -1;
    double total = 0;
    for (const QString &thread : threads) {
        QFile schedstat(tasks.filePath(thread + QStringLiteral("/schedstat")));
        if (!schedstat.open(QIODevice::ReadOnly))
            continue;
        total += schedstat.readAll().split(' ').value(0).toDouble() / 1e9;
    }
    return total;
}

double RelayRun::processPeakMiB(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024.0;
    }
    return -1;
}

RelayRun::Result RelayRun::run(qint64 total, int timeoutMs)
{
    Result result;

    const int sinkListener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in sinkAddress = loopback(0);
    socklen_t length = sizeof sinkAddress;
    if (sinkListener < 0 || ::bind(sinkListener, reinterpret_cast<sockaddr *>(&sinkAddress), sizeof sinkAddress) != 0
        || ::listen(sinkListener, 1) != 0
        || ::getsockname(sinkListener, reinterpret_cast<sockaddr *>(&sinkAddress), &length) != 0) {
        if (sinkListener >= 0)
            ::close(sinkListener);
        result.error = QStringLiteral("the sink cannot listen");
        return result;
    }
    const quint16 sinkPort = ntohs(sinkAddress.sin_port);
    const quint16 listenPort = freeTcpPort();

    QStringList arguments;
    for (QString argument : m_arguments) {
        argument.replace(QStringLiteral("%LISTEN%"), QString::number(listenPort));
        argument.replace(QStringLiteral("%SINK%"), QString::number(sinkPort));
        arguments.append(argument);
    }
    QTemporaryFile output;
    output.open();
    QProcess relay;
    relay.setProcessChannelMode(QProcess::MergedChannels);
    relay.setStandardOutputFile(output.fileName());
    relay.start(m_program, arguments);
    if (!relay.waitForStarted(5000)) {
        ::close(sinkListener);
        result.error = QStringLiteral("%1 did not start: %2").arg(m_program, relay.errorString());
        return result;
    }
    const qint64 pid = relay.processId();

    // The sink accepts the relay's connection and counts the bytes.
    std::atomic<qint64> received{0};
    std::atomic<double> lastByteAt{0};
    std::atomic<bool> stop{false};
    std::thread sink([&] {
        pollfd incoming{sinkListener, POLLIN, 0};
        int fd = -1;
        while (fd < 0 && !stop) {
            if (::poll(&incoming, 1, 50) == 1)
                fd = ::accept4(sinkListener, nullptr, nullptr, SOCK_CLOEXEC);
        }
        if (fd < 0)
            return;
        std::vector<char> buffer(static_cast<size_t>(kChunk));
        pollfd readable{fd, POLLIN, 0};
        while (received < total && !stop) {
            if (::poll(&readable, 1, 50) != 1)
                continue;
            const ssize_t n = ::read(fd, buffer.data(), buffer.size());
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            received += n;
            if (received >= total)
                lastByteAt = steadySeconds();
        }
        ::close(fd);
    });

    const int source = connectWithRetry(listenPort, 10000);
    double cpuBefore = -1;
    double startedAt = 0;
    bool sourceFailed = source < 0;
    if (!sourceFailed) {
        cpuBefore = processCpuSeconds(pid);
        startedAt = steadySeconds();
        std::vector<char> chunk(static_cast<size_t>(kChunk), 'r');
        qint64 sent = 0;
        while (sent < total) {
            const ssize_t n = ::send(source, chunk.data(), size_t(qMin<qint64>(kChunk, total - sent)), MSG_NOSIGNAL);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                sourceFailed = true;
                break;
            }
            sent += n;
        }
    }
    // Everything sent; wait for the sink, bounded.
    QElapsedTimer waited;
    waited.start();
    while (!sourceFailed && received < total && waited.elapsed() < timeoutMs)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    const double cpuAfter = processCpuSeconds(pid);
    const double peakMiB = processPeakMiB(pid);

    stop = true;
    sink.join();
    ::close(sinkListener);
    if (source >= 0)
        ::close(source);
    ::kill(pid_t(pid), SIGINT);
    if (!relay.waitForFinished(5000)) {
        relay.kill();
        relay.waitForFinished(5000);
    }

    if (received < total) {
        output.seek(0);
        const QString said = QString::fromLocal8Bit(output.readAll()).trimmed().section(QLatin1Char('\n'), -1);
        result.error = QStringLiteral("%1 of %2 bytes arrived%3")
                           .arg(received.load())
                           .arg(total)
                           .arg(said.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(said));
        return result;
    }
    result.ok = true;
    result.seconds = lastByteAt - startedAt;
    result.cpuSeconds = cpuBefore >= 0 && cpuAfter >= 0 ? cpuAfter - cpuBefore : -1;
    result.peakMiB = peakMiB;
    return result;
}
