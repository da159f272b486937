// Reliability of every kind of port under load, one scenario per data row:
// long streams both ways with every byte checked (CAN: every frame and its
// identifier), peers that reset mid-transfer, a host that closes the port
// inside its own readyRead(), thousands of TCP clients, and thousands of
// create/open/close/delete cycles with descriptors, live Qt objects and
// memory held flat.

#include "canbus/PCom_CanBus_Device.h"
#include "host/Version.h"
#include "plugin/PCom_Core.h"
#include "tcpserver/PCom_TcpServer_Port.h"
#include "tests/support/EventWait.h"
#include "tests/support/LogCapture.h"
#include "tests/support/LoopbackPeer.h"
#include "tests/support/ObjectCensus.h"
#include "tests/support/ProcStats.h"
#include "tests/support/PseudoTerminal.h"

#include <QtNetwork>
#include <QtTest>

#include <cerrno>
#include <memory>

#include <sys/socket.h>
#include <unistd.h>

// Qt's network configuration, which the port uses, is deprecated.
QT_WARNING_DISABLE_DEPRECATED

namespace {
constexpr qint64 MiB = 1 << 20;
// The sanitizer build runs our code several times slower: it moves less.
#ifdef PCOM_SANITIZE
constexpr int kReduce = 4;
#else
constexpr int kReduce = 1;
#endif
// Bound of one long transfer: far above what the machine needs.
constexpr int kTransferMs = 200000;

// Devices: no port, the devices themselves.
enum Kind { Serial, Can, TcpServer, TcpClient, Udp, Devices };
const char *const kTypeKeys[] = {"com", "canBus", "tcpServer", "tcpClient", "udpClient"};
const QString kClientClosed = QStringLiteral("The client closed the connection.");

// The plug-in and one device of each kind. virtualcan runs one relay per
// process, on the port of the first interface opened: every CAN port here
// uses that one.
PCom_Core *s_core = nullptr;
QVector<Plugin_Com_Device *> s_devices;
quint16 s_relay = 0;

// Clients the server port let go: a remote close shows as an error or as a
// disconnection, and either releases the client.
int releases(const LogCapture &log)
{
    return log.texts().count(kClientClosed) + log.texts().count(QStringLiteral("tcpServer: Disconnected"));
}

// Makes the next close of the socket send a reset instead of an orderly end.
void resetOnClose(QAbstractSocket &socket)
{
    const linger hard{1, 0};
    QVERIFY(::setsockopt(int(socket.socketDescriptor()), SOL_SOCKET, SO_LINGER, &hard, sizeof hard) == 0);
}

// Byte p of a stream depends only on the seed and on p: splitmix64 of the
// word index, cheap, and no two nearby words look alike.
void fill(quint64 seed, qint64 offset, char *out, int size)
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

// One end of a link: a port, a socket or a non-blocking descriptor (a
// pseudo-terminal's master). A CAN port moves frames, each with `id`.
struct End {
    Plugin_Com_Port *port = nullptr;
    QIODevice *device = nullptr;
    int fd = -1;

    // Count taken, 0 when full, -1 on failure.
    qint64 write(const char *data, int size, unsigned int id) const
    {
        if (port)
            return port->usesFrameIds() ? port->writeRawData(data, size, id) : port->writeRawData(data, size);
        if (device)
            return device->write(data, size);
        const ssize_t n = ::write(fd, data, size_t(size));
        return n < 0 && errno != EAGAIN && errno != EINTR ? -1 : qMax<qint64>(n, 0);
    }
    // Count read, 0 or -1 when nothing waits.
    qint64 read(char *buffer, int size, unsigned int *id) const
    {
        if (port)
            return port->usesFrameIds() ? port->readRawData(buffer, size, id) : port->readRawData(buffer, size);
        return device ? device->read(buffer, size) : ::read(fd, buffer, size_t(size));
    }
};

// A checked one-way transfer of `total` bytes, paced by what has arrived: no
// more than `window` bytes are in flight, so no buffer on the way grows
// without bound. The reader compares every byte with what must have been
// sent there: a lost, doubled, reordered or altered byte shows. Frames of
// `chunk` bytes go through every base-format identifier in turn (7919 is
// odd, so frame k's k * 7919 runs through all 2048).
struct Transfer {
    quint64 seed;
    qint64 total;
    End from, to;
    qint64 window;
    int chunk;
    qint64 sent = 0, received = 0, firstMismatch = -1;
    // `full`: the writer took nothing the last time.
    bool writeFailed = false, full = false;

    unsigned int id(qint64 position) const { return unsigned(quint64(position / chunk) * 7919u % 0x800u); }
    void pump()
    {
        QByteArray buffer(chunk, Qt::Uninitialized), expected(chunk, Qt::Uninitialized);
        // Everything waiting is taken now: a reader announces only new bytes.
        // Each round takes at least one byte, so the total bounds the rounds.
        for (qint64 round = 0; round <= total; ++round) {
            unsigned int frameId = id(received);
            const qint64 n = to.read(buffer.data(), chunk, &frameId);
            if (n <= 0)
                break;
            fill(seed, received, expected.data(), int(n));
            const auto wrong = std::mismatch(expected.cbegin(), expected.cbegin() + n, buffer.cbegin()).first;
            if (firstMismatch < 0 && (wrong != expected.cbegin() + n || frameId != id(received)))
                firstMismatch = received + (wrong - expected.cbegin());
            received += n;
        }
        while (!writeFailed && sent < total && sent - received < window) {
            const int size = int(qMin<qint64>(chunk, total - sent));
            fill(seed, sent, buffer.data(), size);
            const qint64 taken = from.write(buffer.constData(), size, id(sent));
            writeFailed = taken < 0 || taken > size;
            full = taken == 0;
            if (taken <= 0)
                break;
            sent += taken;
        }
    }
    bool failed() const { return writeFailed || firstMismatch >= 0 || received > total; }
    bool finished() const { return received >= total || failed(); }
    bool ok() const { return !failed() && sent == total && received == total; }
    QString fault() const
    {
        return QStringLiteral("%1 of %2 bytes sent, %3 arrived, first wrong byte %4%5").arg(sent).arg(total)
            .arg(received).arg(firstMismatch).arg(writeFailed ? ", a write failed" : "");
    }
};

// Both ways at once between two ends: `up` from a to b, `down` from b to a.
// Any arrival pumps both, so neither way waits on the other's events; so
// does the wait, in case an arrival went unannounced. A descriptor, as b,
// is also watched for room while it is full.
struct Duplex : QObject {
    Duplex(quint64 seed, qint64 total, const End &a, const End &b, qint64 window = 4 * MiB, int chunk = 64 << 10)
        : up{seed, total, a, b, window, chunk}, down{seed + 1, total, b, a, window, chunk}
    {
        for (const End &end : {a, b}) {
            if (end.port)
                connect(end.port, &Plugin_Com_Port::readyRead, this, &Duplex::pump);
            if (end.device)
                connect(end.device, &QIODevice::readyRead, this, &Duplex::pump);
        }
        if (b.fd >= 0) {
            readable = std::make_unique<QSocketNotifier>(b.fd, QSocketNotifier::Read);
            writable = std::make_unique<QSocketNotifier>(b.fd, QSocketNotifier::Write);
            connect(readable.get(), &QSocketNotifier::activated, this, &Duplex::pump);
            connect(writable.get(), &QSocketNotifier::activated, this, &Duplex::pump);
        }
        pump();
    }
    void pump()
    {
        up.pump();
        down.pump();
        if (writable)
            writable->setEnabled(down.full);
    }
    // Waits for the end of both ways; true if all arrived as sent.
    bool done()
    {
        return EventWait::until([this] { return pump(), up.finished() && down.finished(); }, kTransferMs) && up.ok()
               && down.ok();
    }
    QString fault() const { return up.fault() + QStringLiteral("; back: ") + down.fault(); }

    Transfer up, down;
    std::unique_ptr<QSocketNotifier> readable, writable;
};

// The far end of one kind of link: a pseudo-terminal, a second CAN port on
// the bus, a client socket, a server socket, a datagram socket. Every peer
// listens and binds; only what its kind needs is used.
struct Peer {
    explicit Peer(Kind kind) : kind(kind)
    {
        server.listen(QHostAddress::LocalHost, 0);
        udp.bind(QHostAddress(QHostAddress::LocalHost), 0);
        if (kind == Can) {
            canPeer.reset(s_devices[Can]->createPort());
            canPeer->setTavlinProperty(QStringLiteral("device"), canUrl());
            canPeer->open(Plugin_Com_Port::ReadWrite);
        }
    }
    static QString canUrl() { return QStringLiteral("tcp://127.0.0.1:%1/can0").arg(s_relay); }
    // Points a new port at this peer.
    void configure(Plugin_Com_Port *port)
    {
        const QString loopback = QStringLiteral("127.0.0.1");
        const QList<QPair<QString, QVariant>> properties[] = {
            {{"device", pty.slavePath()}, {"baudrate", 115200}},
            {{"device", canUrl()}},
            {{"address", loopback}, {"port", 0}},
            {{"address", loopback}, {"port", server.serverPort()}},
            {{"bind-address", loopback}, {"address", loopback}, {"port", udp.localPort()}},
        };
        for (const auto &property : properties[kind])
            port->setTavlinProperty(property.first, property.second);
    }

    // After an open: waits until the peer is attached to the port and a
    // byte went from the port to it.
    bool attach(Plugin_Com_Port *port)
    {
        // From the peer, which is on the bus: virtualcan refuses the port's
        // frames, with a warning, until it has connected.
        if (kind == Can)
            return EventWait::canBus(canPeer.get(), port);
        if (kind == TcpServer) {
            socket.reset(new QTcpSocket);
            const QTcpServer *listening = static_cast<PCom_TcpServer_Port *>(port)->tcpServer();
            socket->connectToHost(QHostAddress::LocalHost, listening ? listening->serverPort() : 0);
        } else if (kind == TcpClient) {
            if (!EventWait::until([&] { return server.hasPendingConnections(); }, 5000))
                return false;
            socket.reset(server.nextPendingConnection());
        }
        // A server port takes the byte once its client is there. The UDP
        // port binds where the system chooses: its first datagram tells.
        char byte;
        QNetworkDatagram hello;
        return EventWait::until([&] { return port->writeRawData("a", 1) == 1; }, 5000) && EventWait::until([&] {
            if (kind == Serial)
                return ::read(pty.masterFd(), &byte, 1) == 1;
            if (kind != Udp)
                return socket->read(&byte, 1) == 1;
            hello = udp.receiveDatagram();
            udpPort = quint16(hello.senderPort());
            return hello.isValid();
        }, 5000);
    }

    // The peer sends `pieces` messages of 512 bytes (CAN: frames of 8).
    void send(int pieces)
    {
        const QByteArray piece(512, 'p');
        for (int i = 0; i < pieces; ++i) {
            if (kind == Serial)
                pty.writeMaster(piece);
            else if (kind == Udp)
                udp.writeDatagram(piece, QHostAddress::LocalHost, udpPort);
            else
                end().write(piece.constData(), kind == Can ? 8 : 512, unsigned(i));
        }
    }

    // This side of a stream with an attached port.
    End end()
    {
        return {canPeer.get(), kind == Udp ? static_cast<QIODevice *>(&udp) : socket.get(),
                kind == Serial ? pty.masterFd() : -1};
    }

    Kind kind;
    PseudoTerminal pty;
    QTcpServer server;
    QUdpSocket udp;
    quint16 udpPort = 0;
    std::unique_ptr<QTcpSocket> socket;
    std::unique_ptr<Plugin_Com_Port> canPeer;
};

Plugin_Com_Port *newPort(Kind kind)
{
    return s_devices[kind]->createPort();
}

// The port and its peer. First the host closes the port from its readyRead()
// handler, the first time it hears from it, while the peer keeps sending:
// through close(), then through "connect". The port must not release the
// object that is still emitting, must read closed afterwards, and must work
// again once reopened. Then both ways at once, every byte checked.
// Datagrams of 8 KiB, a few in flight at a time, which loopback never drops.
// A pseudo-terminal holds only a few KiB, so each side writes when the other
// has read, the test's side also when the master has room again. A TCP peer
// first resets the connection while both ways stream: the port reports it
// once, lets go, and serves a new peer.
void stream(Kind kind, qint64 size)
{
    Peer peer(kind);
    std::unique_ptr<Plugin_Com_Port> port(newPort(kind)), fresh(newPort(kind));
    // Records the host's editor may not change now.
    const auto locked = [](const Plugin_Com_Port *port) {
        const auto records = port->tavlinProperties();
        return std::count_if(records.begin(), records.end(), [](const TavlinProperty *r) { return !r->isWritable(); });
    };
    char buffer[4096];
    unsigned int id;
    const auto readOnce = [&] { return End{port.get()}.read(buffer, sizeof buffer, &id); };
    peer.configure(port.get());
    LogCapture log;
    QVERIFY(port->open(Plugin_Com_Port::ReadWrite) && peer.attach(port.get()));
    for (bool byProperty : {false, true}) {
        bool closed = false;
        const QMetaObject::Connection handler = QObject::connect(port.get(), &Plugin_Com_Port::readyRead, [&] {
            if (!closed) {
                readOnce();
                closed = true;
                byProperty ? void(port->setTavlinProperty(QStringLiteral("connect"), false)) : port->close();
            }
        });
        // A burst that needs several announcements: a pseudo-terminal holds
        // only a few KiB while the port does not read.
        peer.send(kind == Serial ? 8 : 256);
        QVERIFY(EventWait::until([&] { return closed && !port->opened(); }, 10000));
        QVERIFY(EventWait::settled([&] { return qint64(closed); }));
        QObject::disconnect(handler);
        QCOMPARE(port->getTavlinProperty(QStringLiteral("connect")), QVariant(false));
        QCOMPARE(locked(port.get()), locked(fresh.get()));
        QVERIFY(port->open(Plugin_Com_Port::ReadWrite) && peer.attach(port.get()));
    }
    // Reopened, it carries bytes from the peer again; the line may still hold
    // some from before, which are read out too.
    qint64 got = 0;
    peer.send(1);
    QVERIFY(EventWait::until([&] { return (got += qMax<qint64>(readOnce(), 0)) >= (kind == Can ? 8 : 512); }, 10000));
    QVERIFY(EventWait::settled([&] { return got += qMax<qint64>(readOnce(), 0); }));
    QVERIFY2(log.problems().isEmpty(), qPrintable(log.problems().join(QLatin1Char('\n'))));

    if (kind == TcpServer || kind == TcpClient) {
        log.clear();
        auto link = std::make_unique<Duplex>(40, std::numeric_limits<qint64>::max() / 2, End{port.get()}, peer.end());
        QVERIFY(EventWait::until([&] { return link->up.received > 4 * MiB && link->down.received > 4 * MiB; }, 30000));
        resetOnClose(*peer.socket);
        peer.socket->abort();
        QVERIFY(EventWait::until([&] { return kind == TcpServer ? releases(log) == 1 : !port->opened(); }, 10000));
        QVERIFY(link->up.firstMismatch < 0 && link->down.firstMismatch < 0);
        link.reset();
        if (kind == TcpServer)
            QCOMPARE(log.deviceTexts(KrLog_Interface::Error), QStringList{kClientClosed});
        else
            QCOMPARE(log.qtTexts(QtCriticalMsg), QStringList{QStringLiteral("The server closed the connection.")});
        // The server port listens on; the client port is closed until opened again.
        QVERIFY(kind == TcpServer || port->open(Plugin_Com_Port::ReadWrite));
        QVERIFY(peer.attach(port.get()));
    }
    log.clear();
    const int chunk = kind == Can ? 8 : kind == Udp ? 8 << 10 : kind == Serial ? 16 << 10 : 64 << 10;
    if (kind == Udp)
        peer.udp.connectToHost(QHostAddress::LocalHost, peer.udpPort);
    Duplex link(kind, size, End{port.get()}, peer.end(), chunk * (kind == Can ? 1000 : kind == Udp ? 8 : 16), chunk);
    QVERIFY2(link.done(), qPrintable(link.fault()));
    // With nothing waiting, a port says so with -1, not 0.
    QCOMPARE(End{port.get()}.read(buffer, 1, &id), -1);
    QCOMPARE(log.texts(), QStringList());
}

// Clients come in waves of 50; each takes one message from the port and
// ends, half with an orderly close and half with a reset. A last wave is
// still connected when the port closes with 256 KiB queued: every client
// gets all of it before the port lets it go.
void tcpConnections(Kind, qint64 connections)
{
    std::unique_ptr<Plugin_Com_Port> port(newPort(TcpServer));
    LogCapture log;
    port->setTavlinProperty(QStringLiteral("address"), QStringLiteral("127.0.0.1"));
    // The first open starts Qt's network configuration threads, which stay:
    // they are started before the count.
    QNetworkConfigurationManager configurations;
    const int fds = ProcStats::openFileDescriptors();
    QVERIFY(port->open(Plugin_Com_Port::ReadWrite));
    const quint16 listening = static_cast<PCom_TcpServer_Port *>(port.get())->tcpServer()->serverPort();
    for (int made = 50; made <= connections + 50; made += 50) {
        QTcpSocket clients[50];
        for (QTcpSocket &client : clients)
            client.connectToHost(QHostAddress::LocalHost, listening);
        QVERIFY(EventWait::until([&] { return log.texts().count(QStringLiteral("tcpServer: New connection")) == made; },
                                 20000));
        const bool closing = made > connections;
        const QByteArray message = closing ? QByteArray(256 << 10, 'L') : QByteArray::number(made).rightJustified(8, '0');
        QCOMPARE(port->writeRawData(message.constData(), message.size()), message.size());
        if (closing)
            port->close();
        for (QTcpSocket &client : clients) {
            QByteArray got;
            QVERIFY(EventWait::until([&] { return (got += client.readAll()).size() >= message.size(); }, 20000));
            QCOMPARE(got, message);
            if (&client - clients < 25 && !closing)
                resetOnClose(client);
            client.abort();
        }
        QVERIFY(EventWait::until([&] { return releases(log) == made; }, 20000));
    }
    // Every end was a remote close; no other error. Closed, the port
    // serves no one and holds nothing.
    QCOMPARE(log.deviceTexts(KrLog_Interface::Error).size(), log.texts().count(kClientClosed));
    QCOMPARE(port->getTavlinProperty(QStringLiteral("connect")), QVariant(false));
    QCOMPARE(port->writeRawData("x", 1), 0);
    QVERIFY(EventWait::settled([&] { return qint64(ProcStats::openFileDescriptors()); }));
    QCOMPARE(ProcStats::openFileDescriptors(), fds);
}

// Again and again: a port created, pointed at its peer, opened (by open()
// or "connect"), carrying a byte, closed (by close() or "connect") and
// deleted; or devices of every type key (and of none, and of an unknown one)
// created and deleted. Listing the machine's ports asks the system, which is
// slow: every tenth cycle does it; every fiftieth also builds the
// documentation, which makes and drops a port of its own. After a warm-up of
// a tenth of the cycles, descriptors, live Qt objects and (outside
// AddressSanitizer, whose quarantine grows it) the resident set stay flat.
void cycles(Kind kind, qint64 cycles)
{
    Peer peer(kind);
    LogCapture log(LogCapture::ProblemsOnly);
    ObjectCensus census;
    // Descriptors and live objects in one number: both settle, both must stay.
    const auto held = [&] { return qint64(ProcStats::openFileDescriptors()) * 100000 + census.alive(); };
    const QString connect = QStringLiteral("connect");
    qint64 before = 0, resident = 0;
    for (int i = 0; i < cycles; ++i) {
        bool ok = true;
        if (kind == Devices) {
            QList<Plugin_Com_Device *> devices;
            s_core->createDevices(devices);
            ok = !devices.isEmpty() && !s_core->createDevice(nullptr, QStringLiteral("noSuchKey"));
            for (const char *key : kTypeKeys)
                devices.append(s_core->createDevice(nullptr, QString::fromLatin1(key)));
            for (Plugin_Com_Device *device : devices) {
                ok = ok && device;
                if (device && i % 10 == 0)
                    device->availablePorts();
                if (device && i % 50 == 0)
                    ok = ok && !device->getChildPropertyDoc(Version(QStringLiteral("2.20"))).isEmpty();
                s_core->deleteDevice(device);
            }
        } else {
            Plugin_Com_Port *port = newPort(kind);
            peer.configure(port);
            ok = (i % 2 ? port->open(Plugin_Com_Port::ReadWrite) : port->setTavlinProperty(connect, true).toBool())
                 && peer.attach(port);
            i % 2 ? port->close() : void(port->setTavlinProperty(connect, false));
            ok = EventWait::until([&] { return !port->opened(); }, 5000) && port->getTavlinProperty(connect) == false && ok;
            s_devices[kind]->deletePort(port);
        }
        QVERIFY2(ok, qPrintable(QStringLiteral("cycle %1 failed").arg(i)));
        if (i == cycles / 10) {
            QVERIFY(EventWait::settled(held));
            before = held();
            resident = ProcStats::residentBytes();
        }
    }
    QVERIFY(EventWait::settled(held));
    QCOMPARE(held(), before);
    const qint64 grown = ProcStats::residentBytes() - resident;
    // The allocator keeps some pages; a leak of a few hundred bytes a cycle shows.
    QVERIFY2(kReduce > 1 || grown < 512 * 1024, qPrintable(QStringLiteral("resident set grew by %1 bytes").arg(grown)));
    QVERIFY2(log.problems().isEmpty(), qPrintable(log.problems().join(QLatin1Char('\n'))));
}
} // namespace

using Scenario = void (*)(Kind kind, qint64 size);
Q_DECLARE_METATYPE(Scenario)
Q_DECLARE_METATYPE(Kind)

class tst_Stress : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        // virtualcan's own chatter, such as frames refused while it connects,
        // is not the plug-in's.
        QLoggingCategory::setFilterRules(QStringLiteral("qt.canbus.plugins.virtualcan.info=false\n"
                                                        "qt.canbus.plugins.virtualcan.warning=false"));
        s_core = new PCom_Core;
        for (const char *key : kTypeKeys)
            s_devices.append(s_core->createDevice(nullptr, QString::fromLatin1(key)));
        QVERIFY(!s_devices.contains(nullptr));
        QVERIFY(static_cast<PCom_CanBus_Device *>(s_devices[Can])->setCanPlugin(QStringLiteral("virtualcan")));
        s_relay = LoopbackPeer::freePort();
        QVERIFY(s_relay != 0);
    }
    void cleanupTestCase()
    {
        for (Plugin_Com_Device *device : qAsConst(s_devices))
            s_core->deleteDevice(device);
        delete s_core;
    }
    void run_data()
    {
        QTest::addColumn<Scenario>("scenario");
        QTest::addColumn<Kind>("kind");
        QTest::addColumn<qint64>("size");
        const auto row = [](const QString &name, Scenario scenario, Kind kind, qint64 size) {
            QTest::newRow(qPrintable(name)) << scenario << kind << size;
        };
        // Bytes each way; CAN: 100000 frames of 8.
        const qint64 bytes[] = {64 * MiB, 800000, 64 * MiB, 256 * MiB, 32 * MiB};
        const char *const streams[] = {"serial", "can", "tcpServer", "tcp", "udp"};
        for (Kind kind : {Serial, Can, TcpServer, TcpClient, Udp})
            row(QStringLiteral("stream %1").arg(streams[kind]), stream, kind, bytes[kind] / kReduce);
        row("connections tcpServer", tcpConnections, TcpServer, 5000 / kReduce);
        // A serial or CAN open takes longer (a lock file, a relay's round trip).
        for (Kind kind : {Serial, Can, TcpServer, TcpClient, Udp, Devices})
            row(QStringLiteral("cycles %1").arg(kind == Devices ? "devices" : kTypeKeys[kind]), cycles, kind,
                (kind == TcpServer || kind == TcpClient || kind == Udp ? 2000 : 300) / kReduce);
    }
    void run()
    {
        QFETCH(Scenario, scenario);
        QFETCH(Kind, kind);
        QFETCH(qint64, size);
        scenario(kind, size);
    }
};

QTEST_GUILESS_MAIN(tst_Stress)
#include "tst_stress.moc"
