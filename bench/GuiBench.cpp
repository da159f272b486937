#include "bench/GuiBench.h"

#include "bench/BenchLog.h"
#include "bench/PluginPorts.h"
#include "gui/TerminalEndpoint.h"
#include "gui/TerminalPane.h"
#include "tests/support/ProcStats.h"
#include "host/Plugin_Com_Port.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTcpSocket>
#include <QTimer>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

const int tickMs = 10;
const int timeoutMs = 300000;

// A loopback listener whose one client gets `total` bytes from a thread of
// its own, written as fast as the kernel takes them.
class Source
{
public:
    explicit Source(qint64 total)
    {
        m_listener = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (m_listener < 0 || ::bind(m_listener, reinterpret_cast<sockaddr *>(&address), length) != 0
            || ::listen(m_listener, 1) != 0
            || ::getsockname(m_listener, reinterpret_cast<sockaddr *>(&address), &length) != 0)
            return;
        m_port = ntohs(address.sin_port);
        m_thread = std::thread([this, total] {
            const int fd = ::accept(m_listener, nullptr, nullptr);
            QByteArray chunk(64 * 1024, '\0');
            for (int i = 0; i < chunk.size(); ++i)
                chunk[i] = char(i * 7);
            for (qint64 sent = 0; fd >= 0 && sent < total;) {
                const ssize_t n = ::send(fd, chunk.constData(), size_t(qMin<qint64>(chunk.size(), total - sent)), MSG_NOSIGNAL);
                if (n <= 0)
                    break;
                sent += n;
            }
            if (fd >= 0)
                ::close(fd);
        });
    }
    ~Source()
    {
        // Unblocks a thread still waiting in accept().
        ::shutdown(m_listener, SHUT_RDWR);
        if (m_thread.joinable())
            m_thread.join();
        ::close(m_listener);
    }
    quint16 port() const { return m_port; }

private:
    int m_listener = -1;
    quint16 m_port = 0;
    std::thread m_thread;
};

} // namespace

GuiBench::GuiBench(const BenchConfig &config, PluginPorts &ports, BenchLog &log)
    : m_config(config), m_ports(ports), m_log(log)
{
}

GuiBench::Result GuiBench::receive(bool throughPane)
{
    Result result;
    const qint64 total = m_config.guiBytes;
    Source source(total);
    if (!source.port()) {
        result.error = QStringLiteral("no loopback listener");
        return result;
    }
    QEventLoop loop;
    qint64 received = 0;
    Plugin_Com_Port *port = nullptr;
    std::unique_ptr<TerminalPane> pane;
    QTcpSocket socket;
    const qint64 residentBefore = ProcStats::residentBytes();
    qint64 residentPeak = residentBefore;
    if (throughPane) {
        port = m_ports.create(QStringLiteral("tcpClient"),
                              {{QStringLiteral("address"), QStringLiteral("127.0.0.1")}, {QStringLiteral("port"), source.port()}});
        pane.reset(new TerminalPane(port));
        pane->setHexView(true);
        pane->resize(1000, 700);
        pane->show();
        port->setTavlinProperty(QStringLiteral("connect"), true);
        // After the pane's own count of what its terminal showed; the port's
        // reader may go on over several turns without a new readyRead().
        QObject::connect(pane->endpoint(), &TerminalEndpoint::shown, &loop, [&] {
            received = pane->received();
            if (received >= total)
                loop.quit();
        });
    } else {
        QObject::connect(&socket, &QTcpSocket::readyRead, &loop, [&] {
            received += socket.readAll().size();
            if (received >= total)
                loop.quit();
        });
        socket.connectToHost(QStringLiteral("127.0.0.1"), source.port());
    }

    QElapsedTimer clock;
    QElapsedTimer sinceTick;
    qint64 longestGap = 0;
    QTimer ticks;
    ticks.setInterval(tickMs);
    QObject::connect(&ticks, &QTimer::timeout, &loop, [&] {
        longestGap = qMax(longestGap, sinceTick.restart());
        residentPeak = qMax(residentPeak, ProcStats::residentBytes());
    });
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    clock.start();
    sinceTick.start();
    ticks.start();
    loop.exec();
    const double seconds = clock.nsecsElapsed() / 1e9;

    if (received < total)
        result.error = QStringLiteral("%1 of %2 bytes arrived").arg(received).arg(total);
    result.stallMs = double(qMax<qint64>(0, longestGap - tickMs));
    result.mibPerSecond = received / (1024.0 * 1024.0) / seconds;
    result.residentGrowthMiB = (residentPeak - residentBefore) / (1024.0 * 1024.0);
    pane.reset();
    if (port)
        m_ports.release(port);
    m_log.takeErrors();
    return result;
}

QVector<BenchRow> GuiBench::run()
{
    const QString what = QStringLiteral("gui hex terminal, %1 MiB over tcpClient").arg(m_config.guiBytes >> 20);
    BenchRow stall;
    stall.path = what + QStringLiteral(": max event-loop stall");
    stall.unit = QStringLiteral("ms");
    stall.baselineName = QStringLiteral("QTcpSocket, read and dropped");
    BenchRow speed = stall;
    speed.path = what + QStringLiteral(": throughput");
    speed.unit = QStringLiteral("MiB/s");
    BenchRow memory = stall;
    memory.path = what + QStringLiteral(": resident growth");
    memory.unit = QStringLiteral("MiB");

    for (int i = 0; i < m_config.guiRepetitions; ++i) {
        // Alternate the order, as the other suites do.
        for (const bool pane : {i % 2 == 0, i % 2 != 0}) {
            const Result r = receive(pane);
            if (!r.error.isEmpty()) {
                stall.failed = true;
                stall.note = r.error;
                continue;
            }
            (pane ? stall.plugin : stall.baseline).add(r.stallMs);
            (pane ? speed.plugin : speed.baseline).add(r.mibPerSecond);
            (pane ? memory.plugin : memory.baseline).add(r.residentGrowthMiB);
        }
    }
    if (!stall.failed && !stall.plugin.isEmpty())
        stall.note = QStringLiteral("target: at most 100 ms, %1").arg(stall.plugin.max() <= 100 ? "met" : "MISSED");
    return {stall, speed, memory};
}
