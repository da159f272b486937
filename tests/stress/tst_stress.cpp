// Reliability of every kind of port under load, one scenario per data row:
// long streams both ways with every byte checked, CAN frames in bulk, peers
// that reset mid-transfer, thousands of TCP clients, a host that closes the
// port inside its own readyRead(), and thousands of create/open/close/delete
// cycles with descriptors, live Qt objects and memory held flat.

#include "canbus/PCom_CanBus_Device.h"
#include "plugin/PCom_Core.h"
#include "tcpclient/PCom_TcpClient_Port.h"
#include "tcpserver/PCom_TcpServer_Port.h"
#include "host/Version.h"
#include "tests/support/EventWait.h"
#include "tests/support/LogCapture.h"
#include "tests/support/LoopbackPeer.h"
#include "tests/support/ObjectCensus.h"
#include "tests/support/PcomProcess.h"
#include "tests/support/ProcStats.h"
#include "tests/support/PseudoTerminal.h"

#include <QLoggingCategory>
#include <QTemporaryDir>
#include <QRegularExpression>
#include <QSet>
#include <QFile>
#include <QElapsedTimer>
#include <QNetworkDatagram>
#include <QSocketNotifier>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUdpSocket>
#include <QtTest>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <vector>

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
constexpr qint64 MiB = 1 << 20;
#ifdef PCOM_SANITIZE
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
// The sanitizer build runs our code several times slower: it moves less.
constexpr int kReduce = kSanitized ? 4 : 1;
// Bound of one long transfer: far above what the machine needs.
constexpr int kTransferMs = 200000;

enum Kind { Serial, Can, TcpServer, TcpClient, Udp };
const char *const kTypeKeys[] = {"com", "canBus", "tcpServer", "tcpClient", "udpClient"};

const QString kNewConnection = QStringLiteral("tcpServer: New connection");
const QString kDisconnected = QStringLiteral("tcpServer: Disconnected");
const QString kClientClosed = QStringLiteral("The client closed the connection.");
const QString kServerClosed = QStringLiteral("The server closed the connection.");
const QString kClientConnected = QStringLiteral("tcpClient: Connected");
const QString kClientDisconnected = QStringLiteral("tcpClient: Disconnected");

void report(const QString &line)
{
    std::printf("  stress: %s\n", qPrintable(line));
    std::fflush(stdout);
}

int countOf(const LogCapture &log, const QString &text)
{
    return log.texts().count(text);
}

// Clients the server port let go: a remote close shows as an error or as a
// disconnection, and either releases the client.
int releases(const LogCapture &log)
{
    return countOf(log, kClientClosed) + countOf(log, kDisconnected);
}

// Makes the next close of the socket send a reset instead of an orderly end.
void resetOnClose(QAbstractSocket &socket)
{
    const linger hard{1, 0};
    QVERIFY(::setsockopt(int(socket.socketDescriptor()), SOL_SOCKET, SO_LINGER, &hard, sizeof hard) == 0);
}

quint16 listeningPort(Plugin_Com_Port *port)
{
    auto *server = static_cast<PCom_TcpServer_Port *>(port)->tcpServer();
    return server && server->isListening() ? server->serverPort() : 0;
}

// A checked one-way transfer of `total` bytes from a writer to a reader,
// paced by what has arrived: no more than `window` bytes are in flight, so
// no buffer on the way grows without bound. Byte p of the stream depends only
// on the seed and on p, so the reader compares every byte with what must have
// been sent there: a lost, doubled, reordered or altered byte shows. pump()
// moves what it can; whatever announces arriving bytes (or room) calls it.
struct Transfer : QObject {
    // Count taken, 0 when the writer is full, -1 on failure.
    using Writer = std::function<qint64(const char *, int)>;
    // Count read, 0 or -1 when nothing is waiting.
    using Reader = std::function<qint64(char *, int)>;

    Transfer(quint64 seed, qint64 total, Writer writer, Reader reader, qint64 window, int chunk)
        : seed(seed), total(total), writer(std::move(writer)), reader(std::move(reader)), window(window),
          chunk(chunk), buffer(chunk, Qt::Uninitialized), expected(chunk, Qt::Uninitialized)
    {
    }

    // splitmix64 of the word index: cheap, and no two nearby words look alike.
    static void fill(quint64 seed, qint64 offset, char *out, int size)
    {
        for (int done = 0; done < size;) {
            const quint64 position = quint64(offset + done);
            quint64 z = seed + (position / 8 + 1) * 0x9E3779B97F4A7C15ull;
            z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
            z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
            z ^= z >> 31;
            for (int b = int(position % 8); b < 8 && done < size; ++b)
                out[done++] = char(z >> (8 * b));
        }
    }

    void pump()
    {
        // Everything waiting is taken now: a reader announces only new bytes.
        // Each round takes at least one byte, so the total bounds the rounds.
        for (qint64 round = 0; round <= total; ++round) {
            const qint64 n = reader(buffer.data(), chunk);
            if (n <= 0)
                break;
            fill(seed, received, expected.data(), int(n));
            if (firstMismatch < 0 && std::memcmp(expected.constData(), buffer.constData(), size_t(n)) != 0)
                firstMismatch = received + (std::mismatch(expected.cbegin(), expected.cend(), buffer.cbegin()).first - expected.cbegin());
            received += n;
        }
        while (!writeFailed && sent < total && sent - received < window) {
            const int size = int(qMin<qint64>(chunk, total - sent));
            fill(seed, sent, buffer.data(), size);
            const qint64 taken = writer(buffer.constData(), size);
            writeFailed = taken < 0 || taken > size;
            if (taken <= 0)
                break;
            sent += taken;
        }
    }

    bool failed() const { return writeFailed || firstMismatch >= 0 || received > total; }
    bool finished() const { return received >= total || failed(); }
    // What is wrong when everything should have arrived; empty if nothing.
    QString fault() const
    {
        if (writeFailed)
            return QStringLiteral("a write failed after %1 bytes").arg(sent);
        if (firstMismatch >= 0)
            return QStringLiteral("byte %1 differs from what was sent").arg(firstMismatch);
        if (received != total || sent != total)
            return QStringLiteral("%1 of %2 bytes sent, %3 arrived").arg(sent).arg(total).arg(received);
        return QString();
    }

    quint64 seed;
    qint64 total;
    Writer writer;
    Reader reader;
    qint64 window;
    int chunk;
    qint64 sent = 0;
    qint64 received = 0;
    qint64 firstMismatch = -1;
    bool writeFailed = false;
    QByteArray buffer;
    QByteArray expected;
};

// One end of a link for a Transfer: how to write to it, how to read
// from it, and how it calls the transfers when bytes arrive or room opens.
struct End {
    Transfer::Writer write;
    Transfer::Reader read;
    std::function<void(QObject *context, std::function<void()> pump)> wake;

    static End port(Plugin_Com_Port *port)
    {
        return {[port](const char *data, int size) { return qint64(port->writeRawData(data, size)); },
                [port](char *buffer, int size) { return qint64(port->readRawData(buffer, size)); },
                [port](QObject *context, std::function<void()> pump) {
                    QObject::connect(port, &Plugin_Com_Port::readyRead, context, pump);
                }};
    }
    static End device(QIODevice *device)
    {
        return {[device](const char *data, int size) { return device->write(data, size); },
                [device](char *buffer, int size) { return device->read(buffer, size); },
                [device](QObject *context, std::function<void()> pump) {
                    QObject::connect(device, &QIODevice::readyRead, context, pump);
                }};
    }
    // A non-blocking descriptor (a pseudo-terminal's master): a full one
    // takes nothing and calls back once it has room.
    static End descriptor(int fd, QObject *owner)
    {
        auto *readable = new QSocketNotifier(fd, QSocketNotifier::Read, owner);
        auto *writable = new QSocketNotifier(fd, QSocketNotifier::Write, owner);
        writable->setEnabled(false);
        return {[fd, writable](const char *data, int size) -> qint64 {
                    const ssize_t n = ::write(fd, data, size_t(size));
                    if (n < 0 && errno != EAGAIN && errno != EINTR)
                        return -1;
                    writable->setEnabled(n <= 0);
                    return qMax<qint64>(n, 0);
                },
                [fd](char *buffer, int size) { return qint64(::read(fd, buffer, size_t(size))); },
                [readable, writable](QObject *context, std::function<void()> pump) {
                    QObject::connect(readable, &QSocketNotifier::activated, context, pump);
                    QObject::connect(writable, &QSocketNotifier::activated, context, [writable, pump] {
                        writable->setEnabled(false);
                        pump();
                    });
                }};
    }
};

// Both ways at once between two ends: `up` from a to b, `down` from b to a.
// Any arrival pumps both, so neither way waits on the other's events.
struct Duplex {
    Duplex(quint64 seed, qint64 total, const End &a, const End &b, qint64 window = 4 << 20, int chunk = 64 << 10)
        : up(seed, total, a.write, b.read, window, chunk), down(seed + 1, total, b.write, a.read, window, chunk)
    {
        const auto pump = [this] {
            up.pump();
            down.pump();
        };
        a.wake(&up, pump);
        b.wake(&up, pump);
        pump();
    }
    bool finished() const { return up.finished() && down.finished(); }
    bool failed() const { return up.failed() || down.failed(); }
    bool moved(qint64 bytes) const { return up.received > bytes && down.received > bytes; }
    QString fault() const { return down.fault().isEmpty() ? up.fault() : QStringLiteral("back: ") + down.fault(); }

    Transfer up;
    Transfer down;
};

// Each way through each link of one pcom serve process.
const qint64 kServedBytes = 64 * MiB / kReduce;

const int kServedLinks = 8;
// Far above what the links need (a few MiB each), far below what a leak or
// an unbounded backlog of 64 MiB streams would take.
const qint64 kServePeakBound = (kSanitized ? 1024 : 256) * MiB;

// The peak resident set of a process, in bytes; 0 if unknown.
qint64 peakMemoryOf(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    const QRegularExpression line(QStringLiteral("^VmHWM:\\s+(\\d+) kB$"), QRegularExpression::MultilineOption);
    return status.open(QIODevice::ReadOnly) ? line.match(QString::fromLatin1(status.readAll())).captured(1).toLongLong() * 1024 : 0;
}

bool connectedTo(QTcpSocket &socket, quint16 port)
{
    socket.connectToHost(QHostAddress::LocalHost, port);
    return socket.waitForConnected(5000);
}

// A port with nothing waiting says so with -1, not 0.
bool drained(Plugin_Com_Port *port)
{
    char byte;
    return port->readRawData(&byte, 1) == -1;
}

// Records the host's editor may not change now.
int locked(const Plugin_Com_Port *port)
{
    const auto records = port->tavlinProperties();
    return int(std::count_if(records.begin(), records.end(), [](const TavlinProperty *r) { return !r->isWritable(); }));
}

// Reads what waits now; a frame counts as one byte at least.
int readNow(Plugin_Com_Port *port)
{
    char buffer[4096];
    unsigned int frameId = 0;
    int got = 0;
    for (int round = 0; round < 1000; ++round) {
        const int n = port->usesFrameIds() ? port->readRawData(buffer, sizeof buffer, &frameId)
                                           : port->readRawData(buffer, sizeof buffer);
        if (n < 0 || (n == 0 && !port->usesFrameIds()))
            break;
        got += qMax(n, 1);
    }
    return got;
}

// The far end of one kind of link: a pseudo-terminal, a second CAN port on
// the bus, a client socket, a server socket, a datagram socket.
struct Peer {
    Peer(Kind kind, Plugin_Com_Device *device, const QString &canUrl) : m_kind(kind), m_device(device), m_canUrl(canUrl)
    {
        if (kind == TcpClient)
            m_server.listen(QHostAddress::LocalHost, 0);
        if (kind == Udp)
            m_udp.bind(QHostAddress(QHostAddress::LocalHost), 0);
        if (kind == Can) {
            m_canPeer.reset(device->createPort());
            m_canPeer->setTavlinProperty(QStringLiteral("device"), canUrl);
            m_canPeer->open(Plugin_Com_Port::ReadWrite);
        }
    }
    ~Peer()
    {
        if (m_canPeer)
            m_device->deletePort(m_canPeer.release());
    }

    // Points a new port at this peer.
    void configure(Plugin_Com_Port *port)
    {
        const QString loopback = QStringLiteral("127.0.0.1");
        const QList<QPair<QString, QVariant>> properties[] = {
            {{"device", pty.slavePath()}, {"baudrate", 115200}},
            {{"device", m_canUrl}},
            {{"address", loopback}, {"port", 0}},
            {{"address", loopback}, {"port", m_server.serverPort()}},
            {{"bind-address", loopback}, {"address", loopback}, {"port", m_udp.localPort()}},
        };
        for (const auto &property : properties[m_kind])
            port->setTavlinProperty(property.first, property.second);
    }

    // After an open: waits until the peer is attached to the port and a
    // byte went between them.
    bool attach(Plugin_Com_Port *port)
    {
        char byte;
        switch (m_kind) {
        case Serial:
            return port->writeRawData("a", 1) == 1
                   && EventWait::until([&] { return ::read(pty.masterFd(), &byte, 1) == 1; }, 5000);
        case Can:
            // From the peer, which is on the bus: virtualcan refuses the
            // port's frames, with a warning, until it has connected.
            return EventWait::canBus(m_canPeer.get(), port);
        case TcpServer:
            socket.reset(new QTcpSocket);
            socket->connectToHost(QHostAddress::LocalHost, listeningPort(port));
            return EventWait::until([&] { return port->writeRawData("a", 1) == 1; }, 5000)
                   && EventWait::until([&] { return socket->read(&byte, 1) == 1; }, 5000);
        case TcpClient:
            if (!EventWait::until([&] { return m_server.hasPendingConnections(); }, 5000))
                return false;
            socket.reset(m_server.nextPendingConnection());
            return port->writeRawData("a", 1) == 1
                   && EventWait::until([&] { return socket->read(&byte, 1) == 1; }, 5000);
        case Udp: {
            // The port binds where the system chooses: its first datagram tells.
            QNetworkDatagram hello;
            if (port->writeRawData("a", 1) != 1 || !EventWait::until([&] {
                    hello = m_udp.receiveDatagram();
                    return hello.isValid();
                }, 5000))
                return false;
            udpPort = quint16(hello.senderPort());
            return true;
        }
        }
        return false;
    }

    // The peer sends `pieces` messages of 512 bytes (CAN: frames of 8).
    void send(int pieces)
    {
        const QByteArray piece(512, 'p');
        for (int i = 0; i < pieces; ++i) {
            if (m_kind == Serial)
                pty.writeMaster(piece);
            else if (m_kind == Can)
                m_canPeer->writeRawData(piece.constData(), 8, unsigned(i));
            else if (m_kind == Udp)
                m_udp.writeDatagram(piece, QHostAddress::LocalHost, udpPort);
            else
                socket->write(piece);
        }
    }

    // What a burst that needs several announcements takes: a
    // pseudo-terminal holds only a few KiB while the port does not read.
    int burst() const { return m_kind == Serial ? 8 : 256; }

    Kind m_kind;
    Plugin_Com_Device *m_device;
    QString m_canUrl;
    PseudoTerminal pty;
    QTcpServer m_server;
    QUdpSocket m_udp;
    quint16 udpPort = 0;
    std::unique_ptr<QTcpSocket> socket;
    std::unique_ptr<Plugin_Com_Port> m_canPeer;
};
} // namespace

class tst_Stress : public QObject
{
    Q_OBJECT
public:
    using Scenario = void (tst_Stress::*)(Kind kind, qint64 size);

private slots:
    void initTestCase();
    void cleanupTestCase();
    void run_data();
    void run();
    // Eight links served by one pcom serve process, each with a client at both
    // ends moving a long stream both ways, while other clients connect to them
    // and drop, and a served serial device goes away and comes back (a reload
    // starts its bridge again). Nothing may be lost on the eight links, the
    // process stays within a memory bound and keeps serving.
    void serveEightLinks();

private:
    Plugin_Com_Device *device(Kind kind) const { return m_devices.at(kind); }
    Plugin_Com_Port *newPort(Kind kind) const { return device(kind)->createPort(); }
    QString canUrl() const { return QStringLiteral("tcp://127.0.0.1:%1/can0").arg(m_relayPort); }

    void tcpStream(Kind, qint64 size);
    void peerStream(Kind kind, qint64 size);
    void canFrames(Kind, qint64 frames);
    void tcpPeerResets(Kind kind, qint64 size);
    void tcpConnections(Kind, qint64 connections);
    void reentrantClose(Kind kind, qint64);
    void portCycles(Kind kind, qint64 cycles);
    void deviceCycles(Kind, qint64 cycles);
    // Runs `cycles` cycles, the first tenth as a warm-up, and fails when a
    // cycle failed or descriptors, live Qt objects or (outside
    // AddressSanitizer, whose quarantine grows it) the resident set grew.
    void flat(const QString &what, qint64 cycles, const std::function<bool(int)> &cycle);

    PCom_Core m_core;
    std::vector<Plugin_Com_Device *> m_devices;
    // virtualcan runs one relay per process, on the port of the first
    // interface opened: every CAN port here uses that one.
    quint16 m_relayPort = 0;
};
Q_DECLARE_METATYPE(tst_Stress::Scenario)
Q_DECLARE_METATYPE(Kind)

void tst_Stress::initTestCase()
{
    // virtualcan's own chatter, such as frames refused while it connects,
    // is not the plug-in's.
    QLoggingCategory::setFilterRules(QStringLiteral("qt.canbus.plugins.virtualcan.info=false\n"
                                                    "qt.canbus.plugins.virtualcan.warning=false"));
    for (const char *key : kTypeKeys)
        m_devices.push_back(m_core.createDevice(nullptr, QString::fromLatin1(key)));
    QVERIFY(!m_devices.empty() && std::find(m_devices.begin(), m_devices.end(), nullptr) == m_devices.end());
    QVERIFY(static_cast<PCom_CanBus_Device *>(device(Can))->setCanPlugin(QStringLiteral("virtualcan")));
    m_relayPort = LoopbackPeer::freePort();
    QVERIFY(m_relayPort != 0);
}

void tst_Stress::cleanupTestCase()
{
    for (Plugin_Com_Device *device : m_devices)
        m_core.deleteDevice(device);
}

void tst_Stress::run_data()
{
    QTest::addColumn<Scenario>("scenario");
    QTest::addColumn<Kind>("kind");
    QTest::addColumn<qint64>("size");
    const auto row = [](const char *name, Scenario scenario, Kind kind, qint64 size) {
        QTest::newRow(name) << scenario << kind << size;
    };
    row("stream tcp", &tst_Stress::tcpStream, TcpClient, 256 * MiB / kReduce);
    row("stream udp", &tst_Stress::peerStream, Udp, 32 * MiB / kReduce);
    row("stream serial", &tst_Stress::peerStream, Serial, 64 * MiB / kReduce);
    row("frames can", &tst_Stress::canFrames, Can, 100000 / kReduce);
    row("reset under tcpClient", &tst_Stress::tcpPeerResets, TcpClient, 4 * MiB);
    row("reset under tcpServer", &tst_Stress::tcpPeerResets, TcpServer, 4 * MiB);
    row("connections tcpServer", &tst_Stress::tcpConnections, TcpServer, 5000 / kReduce);
    for (Kind kind : {Serial, Can, TcpServer, TcpClient, Udp}) {
        row(qPrintable(QStringLiteral("reentrant close %1").arg(kTypeKeys[kind])), &tst_Stress::reentrantClose, kind, 0);
        // A serial or CAN open takes longer (a lock file, a relay's round trip).
        const int cycles = kind == Serial || kind == Can ? 300 : 2000;
        row(qPrintable(QStringLiteral("cycles %1").arg(kTypeKeys[kind])), &tst_Stress::portCycles, kind, cycles / kReduce);
    }
    row("cycles devices", &tst_Stress::deviceCycles, Serial, 300 / kReduce);
}

void tst_Stress::run()
{
    QFETCH(Scenario, scenario);
    QFETCH(Kind, kind);
    QFETCH(qint64, size);
    QElapsedTimer timer;
    timer.start();
    (this->*scenario)(kind, size);
    report(QStringLiteral("%1: %2 ms").arg(QString::fromLatin1(QTest::currentDataTag())).arg(timer.elapsed()));
}

// The client port against the server port, both ways at once; then the
// client ends the link and both sides let go.
void tst_Stress::tcpStream(Kind, qint64 size)
{
    std::unique_ptr<Plugin_Com_Port> server(newPort(TcpServer));
    std::unique_ptr<Plugin_Com_Port> client(newPort(TcpClient));
    LogCapture log;
    server->setTavlinProperty(QStringLiteral("address"), QStringLiteral("127.0.0.1"));
    QVERIFY(server->open(Plugin_Com_Port::ReadWrite));
    client->setTavlinProperty(QStringLiteral("address"), QStringLiteral("127.0.0.1"));
    client->setTavlinProperty(QStringLiteral("port"), listeningPort(server.get()));
    QCOMPARE(client->setTavlinProperty(QStringLiteral("connect"), true), QVariant(true));
    QVERIFY(EventWait::until([&] { return countOf(log, kNewConnection) == 1 && countOf(log, kClientConnected) == 1; }, 10000));
    log.clear();

    Duplex link(1, size, End::port(client.get()), End::port(server.get()));
    QVERIFY(EventWait::until([&] { return link.finished(); }, kTransferMs));
    QVERIFY2(link.fault().isEmpty(), qPrintable(link.fault()));
    QVERIFY(drained(client.get()) && drained(server.get()));
    QCOMPARE(log.texts(), QStringList());

    QCOMPARE(client->setTavlinProperty(QStringLiteral("connect"), false), QVariant(false));
    QVERIFY(EventWait::until([&] { return releases(log) == 1 && !client->opened(); }, 10000));
    QCOMPARE(log.qtTexts(QtInfoMsg), QStringList{kClientDisconnected});
    QCOMPARE(server->getTavlinProperty(QStringLiteral("connect")), QVariant(true));
}

// Both ways between the port and its peer. Datagrams of 8 KiB, a few in
// flight at a time, which loopback never drops. A pseudo-terminal holds only
// a few KiB, so each side writes when the other has read, the test's side
// also when the master has room again.
void tst_Stress::peerStream(Kind kind, qint64 size)
{
    Peer peer(kind, device(kind), QString());
    std::unique_ptr<Plugin_Com_Port> port(newPort(kind));
    peer.configure(port.get());
    LogCapture log;
    QVERIFY(port->open(Plugin_Com_Port::ReadWrite));
    QUdpSocket socket;
    QObject owner;
    if (kind == Udp) {
        QVERIFY(peer.attach(port.get()) && socket.bind(QHostAddress(QHostAddress::LocalHost), 0));
        port->setTavlinProperty(QStringLiteral("port"), socket.localPort());
        socket.connectToHost(QHostAddress::LocalHost, peer.udpPort);
    }
    log.clear();
    const bool udp = kind == Udp;
    Duplex link(udp ? 11 : 21, size, End::port(port.get()),
                udp ? End::device(&socket) : End::descriptor(peer.pty.masterFd(), &owner), udp ? 64 << 10 : 256 << 10,
                udp ? 8 << 10 : 16 << 10);
    QVERIFY(EventWait::until([&] { return link.finished(); }, kTransferMs));
    QVERIFY2(link.fault().isEmpty(), qPrintable(link.fault()));
    QVERIFY(drained(port.get()));
    QCOMPARE(log.texts(), QStringList());
}

// Frame k: every base-format identifier in turn (7919 is odd, so k * 7919
// runs through all 2048), 0 to 8 bytes of payload from the checked stream.
void tst_Stress::canFrames(Kind, qint64 frames)
{
    const auto id = [](qint64 k) { return unsigned(quint64(k) * 7919u % 0x800u); };
    const auto payload = [](qint64 k) {
        QByteArray bytes(int(k % 9), Qt::Uninitialized);
        Transfer::fill(31, k * 8, bytes.data(), bytes.size());
        return bytes;
    };
    std::unique_ptr<Plugin_Com_Port> from(newPort(Can));
    std::unique_ptr<Plugin_Com_Port> to(newPort(Can));
    from->setTavlinProperty(QStringLiteral("device"), canUrl());
    to->setTavlinProperty(QStringLiteral("device"), canUrl());
    LogCapture log;
    QVERIFY(from->open(Plugin_Com_Port::ReadWrite) && to->open(Plugin_Com_Port::ReadWrite));
    QVERIFY(EventWait::canBus(from.get(), to.get()));
    log.clear();

    qint64 sent = 0;
    qint64 received = 0;
    qint64 firstMismatch = -1;
    bool refused = false;
    QVERIFY(EventWait::until([&] {
        char buffer[64];
        unsigned int frameId = 0;
        for (int n = 0; received < frames + 1 && (n = to->readRawData(buffer, sizeof buffer, &frameId)) >= 0; ++received) {
            if (firstMismatch < 0 && (frameId != id(received) || QByteArray(buffer, n) != payload(received)))
                firstMismatch = received;
        }
        for (; !refused && sent < frames && sent - received < 1000; ++sent) {
            const QByteArray bytes = payload(sent);
            refused = from->writeRawData(bytes.constData(), bytes.size(), id(sent)) != bytes.size();
        }
        return refused || received >= frames;
    }, kTransferMs));
    QVERIFY(!refused);
    QCOMPARE(firstMismatch, qint64(-1));
    int extra = 0;
    QVERIFY(EventWait::settled([&] { return qint64(extra += readNow(to.get())); }));
    QCOMPARE(received + extra, frames);
    QCOMPARE(log.deviceTexts(), QStringList());
}

// The peer resets the connection while both ways stream: the port reports
// it once, lets go, and serves a new peer.
void tst_Stress::tcpPeerResets(Kind kind, qint64 size)
{
    Peer peer(kind, device(kind), QString());
    std::unique_ptr<Plugin_Com_Port> port(newPort(kind));
    peer.configure(port.get());
    LogCapture log;
    QVERIFY(port->open(Plugin_Com_Port::ReadWrite));
    QVERIFY(peer.attach(port.get()));
    log.clear();
    {
        Duplex link(40, std::numeric_limits<qint64>::max() / 2, End::port(port.get()), End::device(peer.socket.get()));
        QVERIFY(EventWait::until([&] { return link.moved(size) || link.failed(); }, 30000));
        resetOnClose(*peer.socket.get());
        peer.socket.get()->abort();
        QVERIFY(EventWait::until([&] { return kind == TcpServer ? releases(log) == 1 : !port->opened(); }, 10000));
        QCOMPARE(link.up.firstMismatch, qint64(-1));
        QCOMPARE(link.down.firstMismatch, qint64(-1));
    }
    if (kind == TcpServer) {
        QCOMPARE(log.deviceTexts(KrLog_Interface::Error), QStringList{kClientClosed});
        QCOMPARE(port->getTavlinProperty(QStringLiteral("connect")), QVariant(true));
    } else {
        QCOMPARE(log.qtTexts(QtCriticalMsg), QStringList{kServerClosed});
        QCOMPARE(log.qtTexts(QtInfoMsg), QStringList{kClientDisconnected});
        QCOMPARE(port->getTavlinProperty(QStringLiteral("connect")), QVariant(false));
        QVERIFY(port->tavlinProperty(QStringLiteral("address"))->isWritable() && drained(port.get()));
        QVERIFY(port->open(Plugin_Com_Port::ReadWrite));
    }
    // A new peer: a whole checked stream.
    QVERIFY(peer.attach(port.get()));
    Duplex link(41, size, End::port(port.get()), End::device(peer.socket.get()));
    QVERIFY(EventWait::until([&] { return link.finished(); }, kTransferMs));
    QVERIFY2(link.fault().isEmpty(), qPrintable(link.fault()));
}

// Clients come in waves of 50; each takes one message from the port and
// ends, half with an orderly close and half with a reset. A last wave is
// still connected when the port closes with 256 KiB queued: every client
// gets all of it before the port lets it go.
void tst_Stress::tcpConnections(Kind, qint64 connections)
{
    std::unique_ptr<Plugin_Com_Port> port(newPort(TcpServer));
    LogCapture log;
    port->setTavlinProperty(QStringLiteral("address"), QStringLiteral("127.0.0.1"));
    const int fds = ProcStats::openFileDescriptors();
    QVERIFY(port->open(Plugin_Com_Port::ReadWrite));
    const quint16 listening = listeningPort(port.get());
    const QByteArray last(256 << 10, 'L');
    int made = 0;
    for (int round = 0; made < connections + 50; ++round) {
        std::vector<std::unique_ptr<QTcpSocket>> clients;
        for (int i = 0; i < 50; ++i, ++made) {
            clients.push_back(std::make_unique<QTcpSocket>());
            clients.back()->connectToHost(QHostAddress::LocalHost, listening);
        }
        QVERIFY(EventWait::until([&] { return countOf(log, kNewConnection) == made; }, 20000));
        const bool closing = made >= connections + 50;
        const QByteArray message = closing ? last : QByteArray::number(round).rightJustified(8, '0');
        QCOMPARE(port->writeRawData(message.constData(), message.size()), message.size());
        if (closing)
            port->close();
        std::vector<QByteArray> got(clients.size());
        QVERIFY(EventWait::until([&] {
            for (size_t i = 0; i < clients.size(); ++i)
                got[i] += clients[i]->readAll();
            return std::all_of(got.begin(), got.end(), [&](const QByteArray &g) { return g.size() >= message.size(); });
        }, 20000));
        for (size_t i = 0; i < clients.size(); ++i) {
            QCOMPARE(got[i], message);
            if (i % 2 && !closing)
                resetOnClose(*clients[i]);
            clients[i]->abort();
        }
        QVERIFY(EventWait::until([&] { return releases(log) == made; }, 20000));
    }
    // Every end was a remote close; no other error. Closed, the port
    // serves no one and holds nothing.
    QCOMPARE(log.deviceTexts(KrLog_Interface::Error).size(), countOf(log, kClientClosed));
    QCOMPARE(port->getTavlinProperty(QStringLiteral("connect")), QVariant(false));
    QCOMPARE(port->writeRawData("x", 1), 0);
    QVERIFY(EventWait::settled([&] { return qint64(ProcStats::openFileDescriptors()); }));
    QCOMPARE(ProcStats::openFileDescriptors(), fds);
}

// The host closes the port from its readyRead() handler, the first time it
// hears from it, while the peer keeps sending: through close() and through
// "connect". The port must not release the object that is still emitting,
// must read closed afterwards, and must work again once reopened.
void tst_Stress::reentrantClose(Kind kind, qint64)
{
    Peer peer(kind, device(kind), canUrl());
    std::unique_ptr<Plugin_Com_Port> port(newPort(kind));
    std::unique_ptr<Plugin_Com_Port> fresh(newPort(kind));
    peer.configure(port.get());
    LogCapture log;
    QVERIFY(port->open(Plugin_Com_Port::ReadWrite));
    QVERIFY(peer.attach(port.get()));
    for (bool byProperty : {false, true}) {
        bool closed = false;
        const QMetaObject::Connection handler = connect(port.get(), &Plugin_Com_Port::readyRead, this, [&] {
            if (closed)
                return;
            readNow(port.get());
            closed = true;
            if (byProperty)
                port->setTavlinProperty(QStringLiteral("connect"), false);
            else
                port->close();
        });
        peer.send(peer.burst());
        QVERIFY(EventWait::until([&] { return closed && !port->opened(); }, 10000));
        QVERIFY(EventWait::settled([&] { return qint64(closed); }));
        disconnect(handler);
        QCOMPARE(port->getTavlinProperty(QStringLiteral("connect")), QVariant(false));
        QCOMPARE(locked(port.get()), locked(fresh.get()));

        // Reopened, it carries bytes again; the line may still hold some
        // from before.
        QVERIFY(port->open(Plugin_Com_Port::ReadWrite));
        QVERIFY(peer.attach(port.get()));
        int got = 0;
        peer.send(1);
        QVERIFY(EventWait::until([&] { return (got += readNow(port.get())) >= (kind == Can ? 8 : 512); }, 10000));
    }
    QVERIFY2(log.problems().isEmpty(), qPrintable(log.problems().join(QLatin1Char('\n'))));
}

// A port created, pointed at its peer, opened (by open() or "connect"),
// carrying a byte, closed (by close() or "connect") and deleted, again and
// again.
void tst_Stress::portCycles(Kind kind, qint64 cycles)
{
    Peer peer(kind, device(kind), canUrl());
    LogCapture log(LogCapture::CountsOnly);
    flat(QStringLiteral("ports"), cycles, [&](int i) {
        Plugin_Com_Port *port = newPort(kind);
        peer.configure(port);
        const bool opened = i % 2 ? port->open(Plugin_Com_Port::ReadWrite)
                                  : port->setTavlinProperty(QStringLiteral("connect"), true).toBool();
        const bool used = opened && peer.attach(port);
        if (i % 2)
            port->close();
        else
            port->setTavlinProperty(QStringLiteral("connect"), false);
        const bool closed = EventWait::until([&] { return !port->opened(); }, 5000)
                            && port->getTavlinProperty(QStringLiteral("connect")) == QVariant(false);
        device(kind)->deletePort(port);
        return used && closed;
    });
    QVERIFY2(log.problems().isEmpty(), qPrintable(log.problems().join(QLatin1Char('\n'))));
}

// Devices of every type key (and of none, and of an unknown one) created
// and deleted. Listing the machine's ports asks the system, which is slow:
// every tenth cycle does it; every fiftieth also builds the documentation,
// which makes and drops a port of its own.
void tst_Stress::deviceCycles(Kind, qint64 cycles)
{
    LogCapture log(LogCapture::CountsOnly);
    flat(QStringLiteral("devices"), cycles, [&](int i) {
        QList<Plugin_Com_Device *> devices;
        m_core.createDevices(devices);
        bool ok = !devices.isEmpty() && !m_core.createDevice(nullptr, QStringLiteral("noSuchKey"));
        for (const char *key : kTypeKeys)
            devices.append(m_core.createDevice(nullptr, QString::fromLatin1(key)));
        for (Plugin_Com_Device *device : devices) {
            ok = ok && device;
            if (device && i % 10 == 0)
                device->availablePorts();
            if (device && i % 50 == 0)
                ok = ok && !device->getChildPropertyDoc(Version(QStringLiteral("2.20"))).isEmpty();
            m_core.deleteDevice(device);
        }
        return ok;
    });
    QCOMPARE(log.deviceCount(KrLog_Interface::Error), 0);
}

void tst_Stress::flat(const QString &what, qint64 cycles, const std::function<bool(int)> &cycle)
{
    // Growth of the resident set a run may show after its warm-up: the
    // allocator keeps some pages; a leak of a few hundred bytes a cycle shows.
    const qint64 tolerance = 512 * 1024;
    ObjectCensus census;
    int failedAt = -1;
    int fds = 0;
    int alive = 0;
    qint64 resident = 0;
    for (int i = 0; i < cycles && failedAt < 0; ++i) {
        if (!cycle(i))
            failedAt = i;
        if (i == cycles / 10) {
            QVERIFY(EventWait::settled([&] { return qint64(ProcStats::openFileDescriptors()) * 100000 + census.alive(); }));
            fds = ProcStats::openFileDescriptors();
            alive = census.alive();
            resident = ProcStats::residentBytes();
        }
    }
    QVERIFY2(failedAt < 0, qPrintable(QStringLiteral("%1: cycle %2 failed").arg(what).arg(failedAt)));
    QVERIFY(EventWait::settled([&] { return qint64(ProcStats::openFileDescriptors()) * 100000 + census.alive(); }));
    QCOMPARE(ProcStats::openFileDescriptors(), fds);
    QCOMPARE(census.alive(), alive);
    const qint64 grown = ProcStats::residentBytes() - resident;
    QVERIFY2(kSanitized || grown < tolerance, qPrintable(QStringLiteral("%1: resident set grew by %2 bytes").arg(what).arg(grown)));
    report(QStringLiteral("%1: %2 cycles, %3 descriptors, %4 live objects, resident +%5 KiB")
               .arg(what).arg(cycles).arg(fds).arg(alive).arg(grown / 1024));
}

void tst_Stress::serveEightLinks()
{
    QTemporaryDir dir;
    const QString device = dir.filePath(QStringLiteral("tty"));
    auto pty = std::make_unique<PseudoTerminal>();
    QVERIFY(pty->isValid() && ::fcntl(pty->masterFd(), F_SETFD, FD_CLOEXEC) == 0);
    QVERIFY(QFile::link(pty->slavePath(), device));
    QByteArray config = "bridges:\n";
    // The system may hand out a port it just gave: each end needs its own.
    QSet<quint16> taken{0};
    const auto freePort = [&taken] {
        quint16 port = 0;
        for (int i = 0; i < 100 && taken.contains(port); ++i)
            port = LoopbackPeer::freePort();
        taken.insert(port);
        return port;
    };
    quint16 ends[kServedLinks][2];
    for (int i = 0; i < kServedLinks; ++i) {
        ends[i][0] = freePort();
        ends[i][1] = freePort();
        // What one end sends before the other end's client is taken is held for it.
        config += QStringLiteral("  - name: link%1\n    args: tcpServer port=%2 --hold 8388608 -- tcpServer port=%3 "
                                 "--hold 8388608\n").arg(i).arg(ends[i][0]).arg(ends[i][1]).toUtf8();
    }
    const quint16 serialPort = freePort();
    config += QStringLiteral("  - name: serial\n    args: com device=%1 -- tcpServer port=%2 --hold 65536\n")
                  .arg(device).arg(serialPort).toUtf8();
    const QString path = dir.filePath(QStringLiteral("serve.yaml"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(config) == config.size());
    file.close();

    PcomProcess pcom;
    pcom.start({"serve", "-q", path});
    QVERIFY2(pcom.waitForStderr("info: pcom: serving 9 bridges"), pcom.err().constData());

    QTcpSocket sockets[kServedLinks][2];
    std::vector<std::unique_ptr<Duplex>> streams;
    for (int i = 0; i < kServedLinks; ++i) {
        QVERIFY(connectedTo(sockets[i][0], ends[i][0]) && connectedTo(sockets[i][1], ends[i][1]));
        streams.push_back(std::make_unique<Duplex>(100 + 2 * i, kServedBytes, End::device(&sockets[i][0]),
                                                   End::device(&sockets[i][1])));
    }
    QElapsedTimer clock;
    clock.start();

    // Clients that connect to a link's end and drop at once, while the streams run.
    int churned = 0;
    QTcpSocket churn;
    QObject::connect(&churn, &QTcpSocket::connected, &churn, &QTcpSocket::abort);
    QTimer churnTimer;
    QObject::connect(&churnTimer, &QTimer::timeout, [&]() {
        if (churn.state() == QAbstractSocket::UnconnectedState && churned < 500)
            churn.connectToHost(QHostAddress::LocalHost, ends[churned++ % kServedLinks][0]);
    });
    churnTimer.start(5);

    // The serial device carries bytes, goes away (its bridge ends), comes back
    // at the same path, and a reload serves it again; the kServedLinks run on.
    for (int round = 0; round < 2; ++round) {
        QTcpSocket client;
        QVERIFY2(connectedTo(client, serialPort), pcom.err().right(2000).constData());
        QVERIFY(pty->writeMaster("serial " + QByteArray::number(round)));
        QVERIFY(EventWait::until([&] { return client.bytesAvailable() >= 8; }, 10000));
        QCOMPARE(client.readAll(), "serial " + QByteArray::number(round));
        if (round == 1)
            break;
        const int null = ::open("/dev/null", O_RDWR | O_CLOEXEC);
        QVERIFY(null >= 0 && ::dup2(null, pty->masterFd()) == pty->masterFd());
        ::close(null);
        QVERIFY2(pcom.waitForStderr("warning: [serial] pcom: the bridge ended"), pcom.err().constData());
        QVERIFY(EventWait::until([&] { return client.state() == QAbstractSocket::UnconnectedState; }, 10000));
        pty = std::make_unique<PseudoTerminal>();
        QVERIFY(pty->isValid() && ::fcntl(pty->masterFd(), F_SETFD, FD_CLOEXEC) == 0);
        QVERIFY(QFile::remove(device) && QFile::link(pty->slavePath(), device));
        pcom.hangUp();
        QVERIFY(pcom.waitForStderr("info: pcom: reloading " + path.toUtf8() + ": 0 added, 1 changed, 0 removed, "
                                   "8 unchanged"));
        QVERIFY(EventWait::until([&] { return pcom.err().count("info: pcom: serving 9 bridges") == 2; }, 10000));
    }

    QVERIFY(EventWait::until([&] {
        return std::all_of(streams.begin(), streams.end(), [](const auto &s) { return s->finished(); });
    }, kTransferMs));
    const double seconds = clock.elapsed() / 1000.0;
    churnTimer.stop();
    for (const auto &stream : streams)
        QVERIFY2(stream->finished() && !stream->failed(), qPrintable(stream->fault()));
    const qint64 hwm = peakMemoryOf(pcom.processId());
    const double mib = 2.0 * kServedLinks * kServedBytes / MiB;
    report(QStringLiteral("pcom serve: %1 links moved %2 MiB in %3 s (%4 MiB/s) with %5 clients dropping; VmHWM %6 MiB")
               .arg(kServedLinks).arg(mib).arg(seconds, 0, 'f', 1).arg(mib / seconds, 0, 'f', 0).arg(churned)
               .arg(hwm / MiB));
    QVERIFY2(hwm > 0 && hwm < kServePeakBound, qPrintable(QString::number(hwm)));

    // Still serving on every link.
    streams.clear();
    for (int i = 0; i < kServedLinks; ++i) {
        sockets[i][0].write("after");
        QVERIFY(EventWait::until([&] { return sockets[i][1].bytesAvailable() >= 5; }, 10000));
        QCOMPARE(sockets[i][1].readAll(), QByteArray("after"));
    }
    pcom.terminate();
    QVERIFY(pcom.waitForExit(30000));
    QCOMPARE(pcom.exitCode(), 0);
}

QTEST_GUILESS_MAIN(tst_Stress)
#include "tst_stress.moc"
