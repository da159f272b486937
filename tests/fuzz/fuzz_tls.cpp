// libFuzzer target: the TLS server's handshake, on whatever a peer sends to
// a listening TLS tcpServer port that asks for client certificates, cut
// into pieces that the input chooses, from a loopback socket. Beyond not
// failing: no such peer ever joins (it cannot prove a key), and each one,
// once gone, is refused exactly once.

#include "core/PCom_ServedClients.h"
#include "core/PCom_TlsSettings.h"
#include "tcpserver/PCom_TcpServer_Device.h"
#include "tcpserver/PCom_TcpServer_Port.h"
#include "tests/fuzz/FuzzCheck.h"
#include "tests/support/EventWait.h"
#include "tests/support/LogCapture.h"

#include <QCoreApplication>
#include <QProcess>
#include <QTemporaryDir>
#include <QTcpSocket>

#include <fuzzer/FuzzedDataProvider.h>

namespace {
PCom_ServedClients *s_clients = nullptr;
int s_refused = 0;
} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    new QCoreApplication(*argc, *argv);
    new LogCapture(LogCapture::ProblemsOnly);
    QTemporaryDir dir;
    const QString cert = dir.filePath("c.pem"), key = dir.filePath("c.key");
    check(QProcess::execute("openssl", {"req", "-x509", "-subj", "/CN=localhost", "-newkey", "ec", "-pkeyopt",
                                        "ec_paramgen_curve:prime256v1", "-nodes", "-keyout", key, "-out", cert}) == 0);
    QFile keyFile(key);
    check(keyFile.open(QIODevice::ReadOnly));
    const PCom_TlsConfig tls{true, QSslCertificate::fromPath(cert), QSslKey(&keyFile, QSsl::Ec),
                             QSslCertificate::fromPath(cert), {}, true};
    auto *port = static_cast<PCom_TcpServer_Port *>((new PCom_TcpServer_Device(nullptr, nullptr))->createPort());
    port->setTavlinProperty("address", "127.0.0.1");
    check(port->linkStatus()->face<PCom_TlsSettings>()->setTls(tls, nullptr) && port->open(Plugin_Com_Port::ReadWrite));
    s_clients = port->linkStatus()->face<PCom_ServedClients>();
    s_clients->setKeepAccepting(true);
    QObject::connect(s_clients, &PCom_ServedClients::clientJoined, [] { check(false); });
    QObject::connect(s_clients, &PCom_ServedClients::clientRefused, [] { ++s_refused; });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider d(data, size);
    const int before = s_refused;
    QTcpSocket peer;
    peer.connectToHost(QHostAddress::LocalHost, s_clients->listeningPort());
    check(peer.waitForConnected(5000));
    for (int piece = 0; piece < 16 && d.remaining_bytes() > 0; ++piece) {
        const std::string bytes = d.ConsumeRandomLengthString(4096);
        peer.write(bytes.data(), qint64(bytes.size()));
        peer.flush();
        EventWait::until([&peer] { return peer.bytesAvailable() > 0 || peer.state() != QAbstractSocket::ConnectedState; }, 20);
    }
    peer.abort();
    check(EventWait::until([before] { return s_refused > before; }, 15000) && s_refused == before + 1);
    return 0;
}
