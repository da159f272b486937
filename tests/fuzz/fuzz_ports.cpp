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
#include "host/Plugin_Com_Device.h"
#include "host/Plugin_Com_Port.h"
#include "plugin/PCom_Core.h"
#include "tcpserver/PCom_TcpServer_Port.h"
#include "tests/support/EventWait.h"
#include "tests/support/LogCapture.h"
#include "tests/support/LoopbackPeer.h"
#include "tests/support/PseudoTerminal.h"

#include <QCanBus>
#include <QCanBusDevice>
#include <QCoreApplication>
#include <QNetworkDatagram>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUdpSocket>
#include <QUrl>

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <memory>
#include <vector>

#include <sys/socket.h>
#include <unistd.h>

namespace {

enum Kind { Serial, Can, TcpServer, TcpClient, UdpClient };

// The process's lasting parts: the peers, the CAN node on can0 of the relay.
PseudoTerminal *s_pty = nullptr;
QTcpServer *s_tcpSink = nullptr;
QUdpSocket *s_udpSink = nullptr;
QCanBusDevice *s_canPeer = nullptr;
quint16 s_relay = 0;

QString pick(FuzzedDataProvider &d, const QStringList &choices)
{
    return choices.at(d.ConsumeIntegralInRange<int>(0, choices.size() - 1));
}

QString string(FuzzedDataProvider &d, size_t maxLength)
{
    return QString::fromStdString(d.ConsumeRandomLengthString(maxLength));
}

// A known property name, a near miss (case, blanks) or arbitrary text.
QString name(FuzzedDataProvider &d)
{
    const QString known = pick(d, {"plugin", "interface", "device", "baudrate", "connect", "port", "address",
                                   "bind-address", "bind-port"});
    switch (d.ConsumeIntegralInRange<int>(0, 3)) {
    case 2: return d.ConsumeBool() ? known.toUpper() : known + QLatin1Char(' ');
    case 3: return string(d, 24);
    default: return known;
    }
}

// Never the relay's default port, which other processes might use.
QString canInterface(FuzzedDataProvider &d)
{
    return QStringLiteral("tcp://127.0.0.1:%1/%2").arg(s_relay).arg(pick(d, {"can0", "can0", "can1", "garbage"}));
}

QVariant anyValue(FuzzedDataProvider &d)
{
    switch (d.ConsumeIntegralInRange<int>(0, 9)) {
    case 0: return QVariant();
    case 1: return d.ConsumeBool();
    case 2: return d.ConsumeIntegral<int>();
    case 3: return d.ConsumeIntegral<qulonglong>();
    case 4: return d.ConsumeFloatingPoint<double>();
    case 5: return string(d, 64);
    case 6: return QByteArray::fromStdString(d.ConsumeRandomLengthString(64));
    case 7: return QStringList(QStringList{string(d, 16), string(d, 16)}.mid(d.ConsumeIntegralInRange<int>(0, 2)));
    case 8: return QVariantList{anyValue(d), QVariantMap{{QStringLiteral("k"), anyValue(d)}}};
    default: return QUrl(string(d, 32));
    }
}

QVariant text(FuzzedDataProvider &d, const QString &text)
{
    const int as = d.ConsumeIntegralInRange<int>(0, 2);
    return as == 0 ? QVariant(text) : as == 1 ? QVariant(text.toUtf8()) : QVariant(QStringList{text});
}

// Only exact representations of the number, so that every conversion gives
// the number back (or its low 16 bits, for the one above 65535).
QVariant number(FuzzedDataProvider &d, quint32 number)
{
    switch (d.ConsumeIntegralInRange<int>(0, 5)) {
    case 0: return int(number);
    case 1: return double(number);
    case 2: return QString::number(number);
    case 3: return QByteArray::number(number);
    case 4: return uint(number + 65536);
    default: return number == 0 ? QVariant(false) : QVariant(qulonglong(number));
    }
}

// Any value for any name, except where a port goes: only safe places.
QVariant value(FuzzedDataProvider &d, Kind kind, const QString &name)
{
    const bool tcp = kind == TcpServer || kind == TcpClient;
    // A TCP client resolves what is not a numeric address: no names.
    if (name == QLatin1String("address") || name == QLatin1String("bind-address"))
        return text(d, kind == TcpClient ? pick(d, {"127.0.0.1", "::1", "", "0"})
                                         : pick(d, {"127.0.0.1", "::1", "", "any", "garbage", "0"}));
    if ((name == QLatin1String("port") && (tcp || kind == UdpClient)) || name == QLatin1String("bind-port"))
        return number(d, d.ConsumeBool() ? (tcp ? s_tcpSink->serverPort() : s_udpSink->localPort()) : 0);
    if (name == QLatin1String("device") && kind == Serial)
        return text(d, pick(d, {s_pty->slavePath(), "/dev/pcom-fuzz-nonexistent", "pcom-fuzz-nonexistent", ""}));
    if (name == QLatin1String("device") && kind == Can)
        return d.ConsumeBool() ? QVariant(canInterface(d)) : QVariant(canInterface(d).toUtf8());
    if (name == QLatin1String("interface") && kind == Can)
        return text(d, pick(d, {"", "virtualcan", "pcom-fuzz-nonexistent"}));
    return anyValue(d);
}

const char *const kTypeKeys[] = {"com", "canBus", "tcpServer", "tcpClient", "udpClient"};

// Runs what the loop has for the sockets, empties the sinks and the
// pseudo-terminal, and lets released objects go.
void settle()
{
    // Rounds enough for a loopback connect and a first exchange.
    for (int round = 0; round < 10; ++round) {
        QCoreApplication::processEvents();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    char buffer[4096];
    for (int i = 0; i < 64 && ::read(s_pty->masterFd(), buffer, sizeof buffer) > 0; ++i) {
    }
}

struct FuzzPort {
    Kind kind;
    Plugin_Com_Port *port;
};

FuzzPort makePort(const std::vector<Plugin_Com_Device *> &devices, FuzzedDataProvider &data)
{
    const auto kind = Kind(data.ConsumeIntegralInRange<int>(0, int(devices.size()) - 1));
    Plugin_Com_Port *port = devices.at(size_t(kind))->createPort();
    if (kind == Can)
        port->setTavlinProperty(QStringLiteral("device"), canInterface(data));
    // The host's handler: reads, answers, closes or ignores.
    QObject::connect(port, &Plugin_Com_Port::readyRead, port, [port, &data] {
        char buffer[512];
        unsigned int frameId = 0;
        switch (data.ConsumeIntegralInRange<int>(0, 4)) {
        case 0: port->readRawData(buffer, data.ConsumeIntegralInRange<int>(0, int(sizeof buffer))); break;
        case 1: port->readRawData(buffer, int(sizeof buffer), &frameId); break;
        case 2: port->writeRawData("echo", 4); break;
        case 3: data.ConsumeBool() ? port->close() : void(port->setTavlinProperty(QStringLiteral("connect"), false)); break;
        default: break;
        }
    });
    return {kind, port};
}

using Clients = std::vector<std::unique_ptr<QTcpSocket>>;

// The other ends: the pseudo-terminal's master sends, a CAN node on can0
// sends a frame, a loopback client connects to a listening server port,
// sends, ends or resets.
void peer(FuzzPort &target, Clients &clients, FuzzedDataProvider &data)
{
    const std::string bytes = data.ConsumeRandomLengthString(300);
    auto *server = dynamic_cast<PCom_TcpServer_Port *>(target.port);
    QTcpSocket *client = clients.empty() ? nullptr : clients.at(data.ConsumeIntegralInRange<size_t>(0, clients.size() - 1)).get();
    switch (data.ConsumeIntegralInRange<int>(0, 4)) {
    case 0:
        if (::write(s_pty->masterFd(), bytes.data(), bytes.size()) < 0)
            return;
        break;
    case 1:
        if (server && server->opened() && clients.size() < 8) {
            clients.push_back(std::make_unique<QTcpSocket>());
            clients.back()->connectToHost(QHostAddress::LocalHost, server->tcpServer()->serverPort());
        }
        break;
    case 2:
        if (client)
            client->write(bytes.data(), qint64(bytes.size()));
        break;
    case 4:
        s_canPeer->writeFrame(QCanBusFrame(data.ConsumeIntegralInRange<quint32>(0, 0x7FF),
                                                 QByteArray::fromStdString(bytes.substr(0, 8))));
        break;
    default:
        if (client && data.ConsumeBool() && client->socketDescriptor() >= 0) {
            const linger hard{1, 0};
            ::setsockopt(int(client->socketDescriptor()), SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
            client->abort();
        } else if (client) {
            client->disconnectFromHost();
        }
        break;
    }
}

void step(FuzzPort &target, const std::vector<Plugin_Com_Device *> &devices, Clients &clients, FuzzedDataProvider &data)
{
    Plugin_Com_Port *port = target.port;
    char buffer[4096];
    switch (data.ConsumeIntegralInRange<int>(0, 12)) {
    case 0: case 1: case 2: {
        const QString key = name(data);
        port->setTavlinProperty(key, value(data, target.kind, key));
        break;
    }
    case 3:
        port->getTavlinProperty(name(data));
        break;
    case 4:
        // A host goes back to its loop after an open: a link gets ready.
        port->open(QFlags<Plugin_Com_Port::OpenModeFlag>(data.ConsumeIntegralInRange<int>(0, 7)));
        settle();
        break;
    case 5:
        port->close();
        break;
    case 6: case 7: case 8: {
        // Bytes, or a frame with an identifier, either way.
        const std::string bytes = data.ConsumeRandomLengthString(300);
        const int len = int(bytes.size());
        const unsigned int id = data.ConsumeIntegral<unsigned int>();
        const int maxLen = data.ConsumeIntegralInRange<int>(0, int(sizeof buffer));
        unsigned int frameId = 0;
        switch (data.ConsumeIntegralInRange<int>(0, 7)) {
        case 0: port->writeRawData(bytes.data(), len); break;
        case 1: port->writeByteStream(bytes.data(), len); break;
        case 2: port->writeRawData(bytes.data(), len, id); break;
        case 3: port->writeByteStream(bytes.data(), len, id); break;
        case 4: port->readRawData(buffer, maxLen); break;
        case 5: port->readByteStream(buffer, maxLen); break;
        case 6: port->readRawData(buffer, maxLen, &frameId); break;
        default: port->readByteStream(buffer, maxLen, nullptr); break;
        }
        break;
    }
    case 9: case 10:
        // What a peer sends arrives; the host's handler may run.
        if (data.ConsumeBool())
            peer(target, clients, data);
        settle();
        break;
    case 11:
        // The host's copy of a port, made and dropped.
        delete port->createInstance();
        port->defaultText();
        port->opened();
        break;
    default:
        devices.at(size_t(target.kind))->deletePort(port);
        target = makePort(devices, data);
        break;
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    new QCoreApplication(*argc, *argv);
    new LogCapture(LogCapture::ProblemsOnly); // keeps none of the log
    s_pty = new PseudoTerminal;
    s_tcpSink = new QTcpServer;
    s_udpSink = new QUdpSocket;
    s_relay = LoopbackPeer::freePort();
    if (!s_pty->isValid() || !s_tcpSink->listen(QHostAddress::LocalHost, 0)
        || !s_udpSink->bind(QHostAddress(QHostAddress::LocalHost), 0) || s_relay == 0)
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

    // The first virtualcan device of the process starts the relay.
    s_canPeer = QCanBus::instance()->createDevice(
        QStringLiteral("virtualcan"), QStringLiteral("tcp://127.0.0.1:%1/can0").arg(s_relay));
    if (!s_canPeer || !s_canPeer->connectDevice()
        || !EventWait::until([] { return s_canPeer->state() == QCanBusDevice::ConnectedState; }, 10000))
        abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *bytes, size_t size)
{
    FuzzedDataProvider data(bytes, size);
    PCom_Core core;
    std::vector<Plugin_Com_Device *> devices;
    for (const char *key : kTypeKeys) {
        devices.push_back(core.createDevice(nullptr, QString::fromLatin1(key)));
        if (!devices.back())
            abort();
    }
    // Often the CAN device starts on virtualcan, so that CAN ports get
    // as far as frames without first finding the "interface" write.
    if (data.ConsumeBool())
        static_cast<PCom_CanBus_Device *>(devices.at(Can))->setCanPlugin(QStringLiteral("virtualcan"));

    Clients clients;
    std::vector<FuzzPort> ports;
    const int count = data.ConsumeIntegralInRange<int>(1, 3);
    for (int i = 0; i < count; ++i)
        ports.push_back(makePort(devices, data));
    for (int i = 0; i < 48 && data.remaining_bytes() > 0; ++i) {
        FuzzPort &target = ports.at(data.ConsumeIntegralInRange<size_t>(0, ports.size() - 1));
        step(target, devices, clients, data);
    }

    clients.clear();
    for (FuzzPort &port : ports)
        devices.at(size_t(port.kind))->deletePort(port.port);
    for (Plugin_Com_Device *device : devices)
        core.deleteDevice(device);
    settle();
    return 0;
}
