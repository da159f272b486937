#include "bench/RelayRun.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTemporaryFile>

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <functional>
#include <memory>
#include <netinet/in.h>
#include <netinet/tcp.h>
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

void noDelay(int fd)
{
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

// The sink's listener, the relay process and the source's connection, and
// their end: the relay gets SIGINT once the work is done.
class Session
{
public:
    ~Session()
    {
        stopSink = true;
        if (m_sink.joinable())
            m_sink.join();
        if (source >= 0)
            ::close(source);
        if (m_listener >= 0)
            ::close(m_listener);
        stop(m_relay);
        for (const auto &helper : m_helpers)
            stop(*helper);
    }

    // Starts the sink (a thread that accepts one connection and runs
    // `serve` on it), the helpers and the relay, and connects the source.
    bool start(const QString &program, const QStringList &pattern, const std::function<void(int)> &serve,
               QString *error, const QList<RelayRun::Helper> &helpers = {})
    {
        m_listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in sinkAddress = loopback(0);
        socklen_t length = sizeof sinkAddress;
        if (m_listener < 0
            || ::bind(m_listener, reinterpret_cast<sockaddr *>(&sinkAddress), sizeof sinkAddress) != 0
            || ::listen(m_listener, 1) != 0
            || ::getsockname(m_listener, reinterpret_cast<sockaddr *>(&sinkAddress), &length) != 0) {
            *error = QStringLiteral("the sink cannot listen");
            return false;
        }
        const quint16 listenPort = freeTcpPort();
        const quint16 frontPort = freeTcpPort();
        const quint16 backPort = freeTcpPort();
        bool front = false;
        bool back = false;
        const auto filled = [&](const QStringList &words) {
            QStringList out;
            for (QString word : words) {
                front = front || word.contains(QStringLiteral("%FRONT%"));
                back = back || word.contains(QStringLiteral("%BACK%"));
                word.replace(QStringLiteral("%LISTEN%"), QString::number(listenPort));
                word.replace(QStringLiteral("%SINK%"), QString::number(ntohs(sinkAddress.sin_port)));
                word.replace(QStringLiteral("%FRONT%"), QString::number(frontPort));
                word.replace(QStringLiteral("%BACK%"), QString::number(backPort));
                out.append(word);
            }
            return out;
        };
        for (const RelayRun::Helper &helper : helpers) {
            m_helpers.push_back(std::make_unique<QProcess>());
            m_helpers.back()->setProcessChannelMode(QProcess::MergedChannels);
            m_helpers.back()->setStandardOutputFile(QProcess::nullDevice());
            m_helpers.back()->start(helper.program, filled(helper.arguments));
            if (!m_helpers.back()->waitForStarted(5000)) {
                *error = QStringLiteral("%1 did not start").arg(helper.program);
                return false;
            }
        }
        const QStringList arguments = filled(pattern);
        if (back && !portTaken(backPort, 10000)) {
            *error = QStringLiteral("no helper listens on the back port");
            return false;
        }
        m_output.open();
        m_relay.setProcessChannelMode(QProcess::MergedChannels);
        m_relay.setStandardOutputFile(m_output.fileName());
        m_relay.start(program, arguments);
        if (!m_relay.waitForStarted(5000)) {
            *error = QStringLiteral("%1 did not start: %2").arg(program, m_relay.errorString());
            return false;
        }
        pid = m_relay.processId();
        m_sink = std::thread([this, serve] {
            pollfd incoming{m_listener, POLLIN, 0};
            int fd = -1;
            while (fd < 0 && !stopSink) {
                if (::poll(&incoming, 1, 50) == 1)
                    fd = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
            }
            if (fd < 0)
                return;
            serve(fd);
            ::close(fd);
        });
        source = connectWithRetry(front ? frontPort : listenPort, 10000);
        if (source < 0) {
            *error = QStringLiteral("the relay does not listen");
            return false;
        }
        return true;
    }

    // The relay's last line of output, for a message.
    QString lastWords()
    {
        m_output.seek(0);
        const QString said = QString::fromLocal8Bit(m_output.readAll()).trimmed().section(QLatin1Char('\n'), -1);
        return said.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(said);
    }

    qint64 pid = 0;
    int source = -1;
    std::atomic<bool> stopSink{false};

private:
    // SIGINT, then SIGKILL if it does not end.
    static void stop(QProcess &process)
    {
        if (process.state() == QProcess::NotRunning)
            return;
        ::kill(pid_t(process.processId()), SIGINT);
        if (!process.waitForFinished(5000)) {
            process.kill();
            process.waitForFinished(5000);
        }
    }

    // Whether some process listens on the loopback port: Linux refuses a
    // second listener even with SO_REUSEADDR.
    static bool portTaken(quint16 port, int timeoutMs)
    {
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < timeoutMs) {
            QTcpServer probe;
            if (!probe.listen(QHostAddress::LocalHost, port))
                return true;
            probe.close();
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }

    int m_listener = -1;
    std::vector<std::unique_ptr<QProcess>> m_helpers;
    QProcess m_relay;
    QTemporaryFile m_output;
    std::thread m_sink;
};

// Reads one byte, waiting until `giveUp` says so; false on an end or error.
bool readByte(int fd, char *byte, const std::function<bool()> &giveUp)
{
    pollfd readable{fd, POLLIN, 0};
    while (!giveUp()) {
        if (::poll(&readable, 1, 50) != 1)
            continue;
        const ssize_t n = ::read(fd, byte, 1);
        if (n < 0 && errno == EINTR)
            continue;
        return n == 1;
    }
    return false;
}
} // namespace

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

RelayRun::Result RelayRun::stream(qint64 total, int timeoutMs, double sinkBytesPerSecond)
{
    Result result;
    // The sink counts the bytes, no faster than its rate when it has one.
    std::atomic<qint64> received{0};
    std::atomic<double> lastByteAt{0};
    Session session;
    const auto serve = [&](int fd) {
        std::vector<char> buffer(static_cast<size_t>(kChunk));
        pollfd readable{fd, POLLIN, 0};
        const double startedAt = steadySeconds();
        while (received < total && !session.stopSink) {
            size_t want = buffer.size();
            if (sinkBytesPerSecond > 0) {
                const double allowed = (steadySeconds() - startedAt) * sinkBytesPerSecond - double(received);
                if (allowed < 1) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
                    continue;
                }
                want = size_t(qMin<double>(allowed, double(buffer.size())));
            }
            if (::poll(&readable, 1, 50) != 1)
                continue;
            const ssize_t n = ::read(fd, buffer.data(), want);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            received += n;
            if (received >= total)
                lastByteAt = steadySeconds();
        }
    };
    if (!session.start(m_program, m_arguments, serve, &result.error, m_helpers))
        return result;

    const double cpuBefore = processCpuSeconds(session.pid);
    const double startedAt = steadySeconds();
    std::vector<char> chunk(static_cast<size_t>(kChunk), 'r');
    qint64 sent = 0;
    bool sourceFailed = false;
    while (sent < total) {
        const ssize_t n =
            ::send(session.source, chunk.data(), size_t(qMin<qint64>(kChunk, total - sent)), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            sourceFailed = true;
            break;
        }
        sent += n;
    }
    // Everything sent; wait for the sink, bounded.
    QElapsedTimer waited;
    waited.start();
    while (!sourceFailed && received < total && waited.elapsed() < timeoutMs)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    const double cpuAfter = processCpuSeconds(session.pid);
    result.peakMiB = processPeakMiB(session.pid);

    if (received < total) {
        result.error =
            QStringLiteral("%1 of %2 bytes arrived%3").arg(received.load()).arg(total).arg(session.lastWords());
        return result;
    }
    result.ok = true;
    result.seconds = lastByteAt - startedAt;
    result.cpuSeconds = cpuBefore >= 0 && cpuAfter >= 0 ? cpuAfter - cpuBefore : -1;
    return result;
}

RelayRun::Result RelayRun::roundTrips(int rounds, int timeoutMs)
{
    Result result;
    Session session;
    const auto echo = [&](int fd) {
        noDelay(fd);
        char byte = 0;
        while (readByte(fd, &byte, [&] { return session.stopSink.load(); })) {
            if (::send(fd, &byte, 1, MSG_NOSIGNAL) != 1)
                break;
        }
    };
    if (!session.start(m_program, m_arguments, echo, &result.error, m_helpers))
        return result;
    noDelay(session.source);

    // A few untimed rounds first: the relay connects to the sink on its own
    // time, and the first bytes wait for that.
    const int warmUp = 50;
    QElapsedTimer clock;
    clock.start();
    const auto late = [&] { return clock.elapsed() > timeoutMs; };
    std::vector<double> times;
    times.reserve(size_t(rounds));
    int done = 0;
    for (; done < warmUp + rounds && clock.elapsed() < timeoutMs; ++done) {
        const double sentAt = steadySeconds();
        char byte = 'p';
        if (::send(session.source, &byte, 1, MSG_NOSIGNAL) != 1 || !readByte(session.source, &byte, late))
            break;
        if (done >= warmUp)
            times.push_back(steadySeconds() - sentAt);
    }
    if (done < warmUp + rounds) {
        result.error = QStringLiteral("%1 of %2 round trips done%3")
                           .arg(qMax(0, done - warmUp))
                           .arg(rounds)
                           .arg(session.lastWords());
        return result;
    }
    // The median round: a turn that the machine's other work delays says
    // nothing about the relay.
    std::nth_element(times.begin(), times.begin() + rounds / 2, times.end());
    result.ok = true;
    result.roundTripMicroseconds = times[size_t(rounds / 2)] * 1e6;
    result.peakMiB = processPeakMiB(session.pid);
    return result;
}

BenchRow RelayRun::socatRow(const QString &path, const QString &unit, BenchRow::Target target, double targetRatio)
{
    BenchRow r;
    r.path = path;
    r.unit = unit;
    r.baselineName = QStringLiteral("socat");
    r.target = target;
    r.targetRatio = targetRatio;
    return r;
}

QStringList RelayRun::missing(const QString &pcomPath, QString *socat)
{
    QStringList notes;
    if (pcomPath.isEmpty() || !QFileInfo(pcomPath).isExecutable())
        notes.append(QStringLiteral("pcom not built"));
    *socat = QStandardPaths::findExecutable(QStringLiteral("socat"));
    if (socat->isEmpty())
        notes.append(QStringLiteral("socat not installed (scripts/bootstrap installs it)"));
    return notes;
}

RelayRun RelayRun::pcomBridge(const QString &pcomPath, const QString &pluginFile, const QString &sinkPort,
                              const QStringList &options)
{
    return RelayRun(pcomPath, QStringList{QStringLiteral("bridge"), QStringLiteral("-q"), QStringLiteral("--plugin"),
                                          pluginFile, QStringLiteral("tcpServer"), QStringLiteral("address=127.0.0.1"),
                                          QStringLiteral("port=%LISTEN%"), QStringLiteral("--"),
                                          QStringLiteral("tcpClient"), QStringLiteral("address=127.0.0.1"),
                                          QStringLiteral("port=") + sinkPort}
                                  + options);
}

void RelayRun::measure(qint64 total, int rounds, bool plugin, Rows *rows, QString *error)
{
    const auto add = [plugin](BenchRow &r, double value) { (plugin ? r.plugin : r.baseline).add(value); };
    const Result fast = stream(total, timeoutMs);
    if (fast.ok) {
        add(rows->throughput, total / (1024.0 * 1024.0) / fast.seconds);
        if (fast.cpuSeconds >= 0)
            add(rows->cpu, fast.cpuSeconds);
        if (fast.peakMiB >= 0)
            add(rows->memory, fast.peakMiB);
    }
    const Result trips = roundTrips(rounds, timeoutMs);
    if (trips.ok)
        add(rows->roundTrip, trips.roundTripMicroseconds);
    for (const Result *r : {&fast, &trips}) {
        if (!r->ok && error->isEmpty())
            *error = r->error;
    }
}
