// libFuzzer target: ports of every kind driven through setTavlinProperty
// with arbitrary names and values of every QVariant type, interleaved with
// open, close, writes, reads, event processing, peers that send, connect
// and reset, and port replacement. A host's readyRead() handler reads,
// writes or closes the port. The values that choose a destination are kept
// safe: the names that choose where a port goes get values from a fixed
// set (loopback, the process's own sinks, a pseudo-terminal, the private
// virtualcan relay), still in assorted QVariant types, so nothing leaves
// loopback, no host name is resolved and no real device is opened.

#include "canbus/PCom_CanBus_Device.h"
#include "plugin/PCom_Core.h"
#include "tcpserver/PCom_TcpServer_Port.h"
#include "tests/support/EventWait.h"
#include "tests/support/LogCapture.h"
#include "tests/support/LoopbackPeer.h"
#include "tests/support/PseudoTerminal.h"

#include <QCanBus>
#include <QCoreApplication>
#include <QNetworkDatagram>
#include <QUdpSocket>
#include <QUrl>

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <functional>
#include <iterator>
#include <memory>

#include <sys/socket.h>
#include <unistd.h>

namespace {

enum Kind { Serial, Can, TcpServer, TcpClient, UdpClient };
const char *const kTypeKeys[] = {"com", "canBus", "tcpServer", "tcpClient", "udpClient"};

// The process's lasting parts: the peers, the CAN node on can0 of the relay.
PseudoTerminal *s_pty = nullptr;
QTcpServer *s_tcpSink = nullptr;
QUdpSocket *s_udpSink = nullptr;
QCanBusDevice *s_canPeer = nullptr;
quint16 s_relay = 0;

// Runs what the loop has for the sockets (rounds enough for a loopback
// connect and a first exchange), lets released objects go and empties the
// pseudo-terminal.
void settle()
{
    for (int round = 0; round < 10; ++round) {
        QCoreApplication::processEvents();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    char buffer[4096];
    for (int i = 0; i < 64 && ::read(s_pty->masterFd(), buffer, sizeof buffer) > 0; ++i) {
    }
}

// One input: the devices, up to three ports, the clients of server ports.
struct Run {
    struct Port { Kind kind; Plugin_Com_Port *port; };

    FuzzedDataProvider d;
    PCom_Core core;
    std::vector<Plugin_Com_Device *> devices;
    std::vector<Port> ports;
    std::vector<std::unique_ptr<QTcpSocket>> clients;

    int in(int max) { return d.ConsumeIntegralInRange<int>(0, max); }
    QString pick(const QStringList &choices) { return choices.at(in(choices.size() - 1)); }
    QString string(size_t maxLength) { return QString::fromStdString(d.ConsumeRandomLengthString(maxLength)); }
    // Never the relay's default port, which other processes might use.
    QString canInterface()
    {
        return QStringLiteral("tcp://127.0.0.1:%1/%2").arg(s_relay).arg(pick({"can0", "can0", "can1", "garbage"}));
    }

    // A known property name, a near miss (case, blanks) or arbitrary text.
    QString name()
    {
        const QString known = pick({"plugin", "interface", "device", "baudrate", "connect", "port", "address",
                                    "bind-address", "bind-port"});
        const int how = in(3);
        return how == 2 ? (d.ConsumeBool() ? known.toUpper() : known + QLatin1Char(' ')) : how == 3 ? string(24) : known;
    }

    // Any value of any type for any name, except where a port goes: only
    // safe places, as text (a string, bytes, a list) or, for a port number,
    // in exact representations too, so that every conversion gives the
    // number back (or its low 16 bits, for the one above 65535). A TCP
    // client resolves what is not a numeric address: no names.
    QVariant value(Kind kind, const QString &name)
    {
        const bool tcp = kind == TcpServer || kind == TcpClient;
        const bool number = (name == QLatin1String("port") && (tcp || kind == UdpClient)) || name == QLatin1String("bind-port");
        QStringList safe;
        if (name == QLatin1String("address") || name == QLatin1String("bind-address"))
            safe = kind == TcpClient ? QStringList{"127.0.0.1", "::1", "", "0"}
                                     : QStringList{"127.0.0.1", "::1", "", "any", "garbage", "0"};
        else if (number)
            safe = QStringList{QString::number(tcp ? s_tcpSink->serverPort() : s_udpSink->localPort()), "0"};
        else if (name == QLatin1String("device"))
            safe = kind == Serial ? QStringList{s_pty->slavePath(), "/dev/pcom-fuzz-nonexistent", "pcom-fuzz-nonexistent", ""}
                                  : kind == Can ? QStringList{canInterface()} : QStringList();
        else if (name == QLatin1String("interface") && kind == Can)
            safe = QStringList{"", "virtualcan", "pcom-fuzz-nonexistent"};
        const QString text = safe.isEmpty() ? string(64) : pick(safe);
        const quint32 n = text.toUInt();
        switch (in(safe.isEmpty() ? 12 : number ? 6 : 2)) {
        case 0: return text;
        case 1: return text.toUtf8();
        case 2: return QStringList{text};
        case 3: return int(n);
        case 4: return double(n);
        case 5: return uint(n + 65536);
        case 6: return n == 0 ? QVariant(false) : QVariant(qulonglong(n));
        case 7: return QVariant();
        case 8: return d.ConsumeIntegral<int>();
        case 9: return d.ConsumeIntegral<qulonglong>();
        case 10: return d.ConsumeFloatingPoint<double>();
        case 11: return QVariantList{value(kind, {}), QVariantMap{{QStringLiteral("k"), value(kind, {})}}};
        default: return QUrl(text);
        }
    }

    // A port of any kind, whose host's handler reads, answers, closes or ignores.
    Port makePort()
    {
        const auto kind = Kind(in(int(devices.size()) - 1));
        Plugin_Com_Port *port = devices.at(size_t(kind))->createPort();
        if (kind == Can)
            port->setTavlinProperty(QStringLiteral("device"), canInterface());
        QObject::connect(port, &Plugin_Com_Port::readyRead, port, [this, port] {
            char buffer[512];
            unsigned int frameId = 0;
            switch (in(4)) {
            case 0: port->readRawData(buffer, in(int(sizeof buffer))); break;
            case 1: port->readRawData(buffer, int(sizeof buffer), &frameId); break;
            case 2: port->writeRawData("echo", 4); break;
            case 3: d.ConsumeBool() ? port->close() : void(port->setTavlinProperty(QStringLiteral("connect"), false)); break;
            }
        });
        return {kind, port};
    }

    // The other ends: the pseudo-terminal's master sends, a CAN node on can0
    // sends a frame, a loopback client connects to a listening server port,
    // sends, ends or resets.
    void peer(const Port &target)
    {
        const std::string bytes = d.ConsumeRandomLengthString(300);
        auto *server = dynamic_cast<PCom_TcpServer_Port *>(target.port);
        QTcpSocket *client = clients.empty() ? nullptr : clients.at(d.ConsumeIntegralInRange<size_t>(0, clients.size() - 1)).get();
        const linger hard{1, 0};
        switch (in(5)) {
        case 0: void(::write(s_pty->masterFd(), bytes.data(), bytes.size()) < 0); break;
        case 1: s_canPeer->writeFrame(QCanBusFrame(in(0x7FF), QByteArray::fromStdString(bytes.substr(0, 8)))); break;
        case 2:
            if (server && server->opened() && clients.size() < 8) {
                clients.push_back(std::make_unique<QTcpSocket>());
                clients.back()->connectToHost(QHostAddress::LocalHost, server->tcpServer()->serverPort());
            }
            break;
        case 3: if (client) client->write(bytes.data(), qint64(bytes.size())); break;
        case 4: if (client) client->disconnectFromHost(); break;
        default:
            if (client && ::setsockopt(int(client->socketDescriptor()), SOL_SOCKET, SO_LINGER, &hard, sizeof hard) == 0)
                client->abort();
        }
    }

    // One operation on a port, from a table.
    void step(Port &target)
    {
        Plugin_Com_Port *port = target.port;
        char buffer[4096];
        unsigned int frameId = 0;
        const auto bytes = [this] { return d.ConsumeRandomLengthString(300); };
        const auto setProperty = [&] {
            const QString key = name();
            port->setTavlinProperty(key, value(target.kind, key));
        };
        const std::function<void()> operations[] = {
            setProperty, setProperty, setProperty,
            [&] { port->getTavlinProperty(name()); },
            // A host goes back to its loop after an open: a link gets ready.
            [&] { port->open(QFlags<Plugin_Com_Port::OpenModeFlag>(in(7))); settle(); },
            [&] { port->close(); },
            // Bytes, or a frame with an identifier, either way.
            [&] { const std::string b = bytes(); port->writeRawData(b.data(), int(b.size())); },
            [&] { const std::string b = bytes(); port->writeByteStream(b.data(), int(b.size())); },
            [&] { const std::string b = bytes(); port->writeRawData(b.data(), int(b.size()), d.ConsumeIntegral<unsigned int>()); },
            [&] { const std::string b = bytes(); port->writeByteStream(b.data(), int(b.size()), d.ConsumeIntegral<unsigned int>()); },
            [&] { port->readRawData(buffer, in(int(sizeof buffer))); },
            [&] { port->readByteStream(buffer, in(int(sizeof buffer))); },
            [&] { port->readRawData(buffer, in(int(sizeof buffer)), &frameId); },
            [&] { port->readByteStream(buffer, in(int(sizeof buffer)), nullptr); },
            // What a peer sends arrives; the host's handler may run.
            [&] { peer(target); settle(); },
            [&] { settle(); },
            // The host's copy of a port, made and dropped.
            [&] { delete port->createInstance(); port->defaultText(); port->opened(); },
            [&] { devices.at(size_t(target.kind))->deletePort(port); target = makePort(); },
        };
        operations[in(int(std::size(operations)) - 1)]();
    }

    Run(const uint8_t *bytes, size_t size) : d(bytes, size)
    {
        for (const char *key : kTypeKeys)
            devices.push_back(core.createDevice(nullptr, QString::fromLatin1(key)));
        // Often the CAN device starts on virtualcan, so that CAN ports get
        // as far as frames without first finding the "interface" write.
        if (std::count(devices.begin(), devices.end(), nullptr))
            abort();
        if (d.ConsumeBool())
            static_cast<PCom_CanBus_Device *>(devices.at(Can))->setCanPlugin(QStringLiteral("virtualcan"));
        for (int count = 1 + in(2); count > 0; --count)
            ports.push_back(makePort());
        for (int i = 0; i < 48 && d.remaining_bytes() > 0; ++i)
            step(ports.at(d.ConsumeIntegralInRange<size_t>(0, ports.size() - 1)));
    }
    ~Run()
    {
        clients.clear();
        for (Port &port : ports)
            devices.at(size_t(port.kind))->deletePort(port.port);
        for (Plugin_Com_Device *device : devices)
            core.deleteDevice(device);
        settle();
    }
};

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    new QCoreApplication(*argc, *argv);
    new LogCapture(LogCapture::ProblemsOnly); // keeps none of the log
    s_pty = new PseudoTerminal;
    s_tcpSink = new QTcpServer;
    s_udpSink = new QUdpSocket;
    s_relay = LoopbackPeer::freePort();
    // The first virtualcan device of the process starts the relay.
    s_canPeer = QCanBus::instance()->createDevice("virtualcan", QStringLiteral("tcp://127.0.0.1:%1/can0").arg(s_relay));
    if (!s_pty->isValid() || !s_tcpSink->listen(QHostAddress::LocalHost, 0) || s_relay == 0
        || !s_udpSink->bind(QHostAddress(QHostAddress::LocalHost), 0) || !s_canPeer || !s_canPeer->connectDevice()
        || !EventWait::until([] { return s_canPeer->state() == QCanBusDevice::ConnectedState; }, 10000))
        abort();
    // The sinks send back what they receive (to loopback only).
    QObject::connect(s_tcpSink, &QTcpServer::newConnection, [] {
        while (QTcpSocket *socket = s_tcpSink->nextPendingConnection()) {
            QObject::connect(socket, &QTcpSocket::readyRead, socket, [socket] { socket->write(socket->readAll()); });
            QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        }
    });
    QObject::connect(s_udpSink, &QUdpSocket::readyRead, [] {
        for (int i = 0; i < 64 && s_udpSink->hasPendingDatagrams(); ++i) {
            const QNetworkDatagram datagram = s_udpSink->receiveDatagram(2048);
            if (datagram.isValid() && datagram.senderAddress().isLoopback())
                s_udpSink->writeDatagram(datagram.makeReply(datagram.data()));
        }
    });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *bytes, size_t size)
{
    Run run(bytes, size);
    return 0;
}
