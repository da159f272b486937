// A peer that the stress tests run as a separate process, so that they can
// kill it with SIGKILL in the middle of a transfer. It talks to loopback
// only and ends by itself after two minutes, or when its standard input
// closes (the test is gone).
//
//   pcom_stress_peer tcp-connect PORT SEED   connects to 127.0.0.1:PORT
//   pcom_stress_peer tcp-serve SEED          listens on 127.0.0.1, prints "port N"
//   pcom_stress_peer can-relay PORT          virtualcan relay on PORT, sends frames
//
// The TCP modes send the stress stream of SEED without end and read and drop
// whatever arrives. The CAN mode prints "ready" once on the bus, then sends
// frame k with identifier k % 0x800 and k as 8 little-endian bytes.

#include "tests/stress/StressStream.h"

#include <QCanBus>
#include <QCanBusDevice>
#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <cstdio>
#include <unistd.h>

namespace {

void say(const QByteArray &line)
{
    std::fputs(line.constData(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

// Keeps about 1 MiB queued on the socket and drops what it receives.
void stream(QTcpSocket *socket, quint64 seed)
{
    auto offset = new qint64(0);
    auto topUp = [socket, seed, offset] {
        const StressStream source(seed);
        for (int round = 0; round < 64 && socket->bytesToWrite() < (1 << 20); ++round) {
            const QByteArray chunk = source.chunk(*offset, 64 << 10);
            if (socket->write(chunk) != chunk.size())
                return;
            *offset += chunk.size();
        }
    };
    QObject::connect(socket, &QTcpSocket::bytesWritten, socket, topUp);
    QObject::connect(socket, &QTcpSocket::readyRead, socket, [socket] { socket->readAll(); });
    QObject::connect(socket, &QTcpSocket::disconnected, qApp, &QCoreApplication::quit);
    QObject::connect(socket, &QObject::destroyed, [offset] { delete offset; });
    topUp();
}

}

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    if (args.isEmpty())
        return 2;

    QTimer::singleShot(120000, &app, &QCoreApplication::quit);
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, &app, [&input] {
        char byte;
        if (::read(STDIN_FILENO, &byte, 1) <= 0) {
            input.setEnabled(false);
            QCoreApplication::quit();
        }
    });

    const QString mode = args.at(0);
    if (mode == QLatin1String("tcp-connect") && args.size() == 3) {
        auto socket = new QTcpSocket(&app);
        const quint64 seed = args.at(2).toULongLong();
        QObject::connect(socket, &QTcpSocket::connected, socket, [socket, seed] {
            say("connected");
            stream(socket, seed);
        });
        socket->connectToHost(QHostAddress::LocalHost, quint16(args.at(1).toUInt()));
    } else if (mode == QLatin1String("tcp-serve") && args.size() == 2) {
        auto server = new QTcpServer(&app);
        if (!server->listen(QHostAddress::LocalHost, 0))
            return 1;
        const quint64 seed = args.at(1).toULongLong();
        QObject::connect(server, &QTcpServer::newConnection, server, [server, seed] {
            while (QTcpSocket *socket = server->nextPendingConnection())
                stream(socket, seed);
        });
        say("port " + QByteArray::number(server->serverPort()));
    } else if (mode == QLatin1String("can-relay") && args.size() == 2) {
        QString error;
        QCanBusDevice *device = QCanBus::instance()->createDevice(
            QStringLiteral("virtualcan"), QStringLiteral("tcp://127.0.0.1:%1/can0").arg(args.at(1)), &error);
        if (!device || !device->connectDevice())
            return 1;
        device->setParent(&app);
        auto sent = new quint64(0);
        auto pace = new QTimer(device);
        QObject::connect(pace, &QTimer::timeout, device, [device, sent] {
            for (int i = 0; i < 20; ++i, ++*sent) {
                QByteArray payload(8, '\0');
                for (int b = 0; b < 8; ++b)
                    payload[b] = char(*sent >> (8 * b));
                device->writeFrame(QCanBusFrame(quint32(*sent % 0x800), payload));
            }
        });
        QObject::connect(device, &QCanBusDevice::stateChanged, device, [pace](QCanBusDevice::CanBusDeviceState state) {
            if (state == QCanBusDevice::ConnectedState) {
                say("ready");
                pace->start(1);
            }
        });
        QObject::connect(device, &QObject::destroyed, [sent] { delete sent; });
    } else {
        return 2;
    }
    return app.exec();
}
