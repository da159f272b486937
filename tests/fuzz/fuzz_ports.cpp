// libFuzzer target: ports of every kind driven through setTavlinProperty
// with arbitrary names and values of every QVariant type, interleaved with
// open, close, writes, reads, event processing and port replacement. The
// values that choose a destination are kept safe (see FuzzValues).

#include "FuzzValues.h"
#include "LogCounter.h"
#include "PCom_CanBus_Device.h"
#include "PCom_Core.h"
#include "Plugin_Com_Device.h"
#include "Plugin_Com_Port.h"
#include "PseudoTerminal.h"

#include <QCoreApplication>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUdpSocket>

#include <cstdint>
#include <unistd.h>
#include <vector>

namespace {

struct Fixture {
    QCoreApplication *app = nullptr;
    LogCounter *log = nullptr;
    PseudoTerminal *pty = nullptr;
    QTcpServer *tcpSink = nullptr;
    QUdpSocket *udpSink = nullptr;
    FuzzValues::Endpoints endpoints;
};
Fixture fixture;

const char *const kTypeKeys[] = {"com", "canBus", "tcpServer", "tcpClient", "udpClient"};

// Runs what the loop has for the sockets, empties the sinks and the
// pseudo-terminal, and lets released objects go.
void settle()
{
    for (int round = 0; round < 3; ++round) {
        QCoreApplication::processEvents();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    char buffer[4096];
    for (int i = 0; i < 64 && ::read(fixture.pty->masterFd(), buffer, sizeof buffer) > 0; ++i) {
    }
    for (int i = 0; i < 64 && fixture.udpSink->hasPendingDatagrams(); ++i)
        fixture.udpSink->readDatagram(buffer, sizeof buffer);
}

struct FuzzPort {
    FuzzValues::Kind kind;
    Plugin_Com_Device *device;
    Plugin_Com_Port *port;
};

FuzzPort makePort(const std::vector<Plugin_Com_Device *> &devices, FuzzValues &values, FuzzedDataProvider &data)
{
    const auto kind = FuzzValues::Kind(data.ConsumeIntegralInRange<int>(0, int(devices.size()) - 1));
    Plugin_Com_Device *device = devices.at(size_t(kind));
    Plugin_Com_Port *port = device->createPort();
    if (kind == FuzzValues::Can)
        port->setTavlinProperty(QStringLiteral("device"), values.canInterface());
    return {kind, device, port};
}

void step(FuzzPort &target, const std::vector<Plugin_Com_Device *> &devices, FuzzValues &values,
          FuzzedDataProvider &data)
{
    Plugin_Com_Port *port = target.port;
    char buffer[4096];
    switch (data.ConsumeIntegralInRange<int>(0, 11)) {
    case 0:
    case 1:
    case 2: {
        const QString name = values.name();
        port->setTavlinProperty(name, values.value(target.kind, name));
        break;
    }
    case 3:
        port->getTavlinProperty(values.name());
        break;
    case 4:
        port->open(QFlags<Plugin_Com_Port::OpenModeFlag>(data.ConsumeIntegralInRange<int>(0, 7)));
        break;
    case 5:
        port->close();
        break;
    case 6: {
        const std::string bytes = data.ConsumeRandomLengthString(300);
        const int len = int(bytes.size());
        if (data.ConsumeBool())
            port->writeRawData(bytes.data(), len);
        else
            port->writeByteStream(bytes.data(), len);
        break;
    }
    case 7: {
        const std::string bytes = data.ConsumeRandomLengthString(80);
        const unsigned int frameId = data.ConsumeIntegral<unsigned int>();
        if (data.ConsumeBool())
            port->writeRawData(bytes.data(), int(bytes.size()), frameId);
        else
            port->writeByteStream(bytes.data(), int(bytes.size()), frameId);
        break;
    }
    case 8: {
        const int maxLen = data.ConsumeIntegralInRange<int>(0, int(sizeof buffer));
        unsigned int frameId = 0;
        switch (data.ConsumeIntegralInRange<int>(0, 3)) {
        case 0:
            port->readRawData(buffer, maxLen);
            break;
        case 1:
            port->readByteStream(buffer, maxLen);
            break;
        case 2:
            port->readRawData(buffer, maxLen, &frameId);
            break;
        default:
            port->readByteStream(buffer, maxLen, nullptr);
            break;
        }
        break;
    }
    case 9:
        settle();
        break;
    case 10: {
        // The host's copy of a port, made and dropped.
        AbstractTreeItem *copy = port->createInstance();
        delete copy;
        port->defaultText();
        port->opened();
        break;
    }
    default:
        target.device->deletePort(port);
        target = makePort(devices, values, data);
        break;
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    static int argc = 1;
    static char name[] = "pcom_fuzz_ports";
    static char *argv[] = {name, nullptr};
    fixture.app = new QCoreApplication(argc, argv);
    fixture.log = new LogCounter;
    fixture.pty = new PseudoTerminal;
    fixture.tcpSink = new QTcpServer;
    fixture.udpSink = new QUdpSocket;
    QTcpServer probe;
    if (!fixture.pty->isValid() || !fixture.tcpSink->listen(QHostAddress::LocalHost, 0)
        || !fixture.udpSink->bind(QHostAddress(QHostAddress::LocalHost), 0) || !probe.listen(QHostAddress::LocalHost, 0))
        abort();
    // The sink takes every connection and drops what it receives.
    QObject::connect(fixture.tcpSink, &QTcpServer::newConnection, [] {
        while (QTcpSocket *socket = fixture.tcpSink->nextPendingConnection()) {
            QObject::connect(socket, &QTcpSocket::readyRead, socket, [socket] { socket->readAll(); });
            QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        }
    });
    fixture.endpoints = {fixture.pty->slavePath(), fixture.tcpSink->serverPort(), fixture.udpSink->localPort(),
                         probe.serverPort()};
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *bytes, size_t size)
{
    FuzzedDataProvider data(bytes, size);
    FuzzValues values(data, fixture.endpoints);
    PCom_Core core;
    std::vector<Plugin_Com_Device *> devices;
    for (const char *key : kTypeKeys)
        devices.push_back(core.createDevice(nullptr, QString::fromLatin1(key)));
    for (Plugin_Com_Device *device : devices) {
        if (!device)
            abort();
    }

    std::vector<FuzzPort> ports;
    const int count = data.ConsumeIntegralInRange<int>(1, 3);
    for (int i = 0; i < count; ++i)
        ports.push_back(makePort(devices, values, data));
    for (int i = 0; i < 48 && data.remaining_bytes() > 0; ++i) {
        FuzzPort &target = ports.at(data.ConsumeIntegralInRange<size_t>(0, ports.size() - 1));
        step(target, devices, values, data);
    }

    for (FuzzPort &port : ports)
        port.device->deletePort(port.port);
    for (Plugin_Com_Device *device : devices)
        core.deleteDevice(device);
    settle();
    return 0;
}
