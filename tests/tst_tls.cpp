#include "tests/support/PcomProcess.h"
#include "tests/support/PseudoTerminal.h"
#include "core/PCom_ServedClients.h"
#include "core/PCom_TlsSettings.h"
#include "tcpclient/PCom_TcpClient_Device.h"
#include "tcpserver/PCom_TcpServer_Device.h"
#include "tcpserver/PCom_TcpServer_Port.h"

#include <QTemporaryDir>
#include <QtTest>

// TLS on the TCP ports, with certificates that openssl makes for the run: a
// CA, a server and a client certificate that it signed, and a stranger
// signed by another CA.
class tst_Tls : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void ports();
    void realPeers();

private:
    QString file(const QString &name) const { return m_dir.filePath(name); }
    PCom_TlsConfig config(const QString &own) const
    {
        QFile key(file(own + ".key"));
        return {true, QSslCertificate::fromPath(file(own + ".pem")),
                QSslKey(key.open(QIODevice::ReadOnly) ? key.readAll() : QByteArray(), QSsl::Ec),
                QSslCertificate::fromPath(file("ca.pem")), {}, true};
    }
    QTemporaryDir m_dir;
};

void tst_Tls::initTestCase()
{
    for (const QString own : {"ca", "other", "server", "client", "stranger"}) {
        const QString ca = own == "stranger" ? "other" : "ca";
        const QStringList signer{"-CA", file(ca + ".pem"), "-CAkey", file(ca + ".key"), "-addext", "basicConstraints=CA:FALSE"};
        QCOMPARE(QProcess::execute("openssl", QStringList{"req", "-x509", "-subj", "/CN=" + own, "-addext",
                                                          "subjectAltName=DNS:localhost,IP:127.0.0.1", "-newkey", "ec",
                                                          "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes", "-keyout",
                                                          file(own + ".key"), "-out", file(own + ".pem")}
                                                  + (own == ca || own == "other" ? QStringList() : signer)), 0);
    }
}

// A server port that asks for certificates of the CA and a client port with
// one: the client joins once encrypted, and bytes move both ways.
void tst_Tls::ports()
{
    PCom_TcpServer_Device serverDevice(nullptr, nullptr);
    PCom_TcpClient_Device clientDevice(nullptr, nullptr);
    auto *server = static_cast<PCom_Port *>(serverDevice.createPort());
    auto *client = static_cast<PCom_Port *>(clientDevice.createPort());
    server->setTavlinProperty("address", "127.0.0.1");
    QVERIFY(server->linkStatus()->face<PCom_TlsSettings>()->setTls(config("server"), nullptr));
    QVERIFY(server->open(Plugin_Com_Port::ReadWrite));
    QSignalSpy joined(server->linkStatus()->face<PCom_ServedClients>(), &PCom_ServedClients::clientJoined);
    client->setTavlinProperty("address", "127.0.0.1");
    client->setTavlinProperty("port", server->linkStatus()->face<PCom_ServedClients>()->listeningPort());
    PCom_TlsConfig tls = config("client");
    tls.peerName = "localhost";
    QVERIFY(client->linkStatus()->face<PCom_TlsSettings>()->setTls(tls, nullptr));
    QVERIFY(client->open(Plugin_Com_Port::ReadWrite) && joined.wait(10000));
    QCOMPARE(client->linkStatus()->linkState(), PCom_LinkStatus::LinkState::Open);
    char buf[8] = {};
    QSignalSpy toServer(server, &Plugin_Com_Port::readyRead), toClient(client, &Plugin_Com_Port::readyRead);
    QVERIFY(client->writeRawData("up", 2) == 2 && server->writeRawData("down", 4) == 4);
    QVERIFY(toServer.wait(5000) && server->readRawData(buf, 8) == 2 && QByteArray(buf) == "up");
    QVERIFY((toClient.size() > 0 || toClient.wait(5000)) && client->readRawData(buf, 8) == 4);
    QCOMPARE(QByteArray(buf), QByteArray("down"));
    clientDevice.deletePort(client);
    serverDevice.deletePort(server);
}

// pcom serving a pseudo-terminal over TLS to openssl s_client and socat;
// peers without a certificate or with a stranger's are refused and counted,
// and a pcom client refuses a server certificate for another name.
void tst_Tls::realPeers()
{
    PseudoTerminal pty;
    PcomProcess pcom;
    QVERIFY(pcom.startOpened({"bridge", "com", "device=" + pty.slavePath(), "--", "tcpServer", "address=127.0.0.1",
                              "port=0", "--tls-cert", file("server.pem"), "--tls-key", file("server.key"),
                              "--tls-client-ca", file("ca.pem")}));
    const QString port = QString::number(pcom.serverPort());
    for (const QString own : {"client", "", "stranger"}) {
        QProcess sClient;
        const QStringList cert{"-cert", file(own + ".pem"), "-key", file(own + ".key")};
        sClient.start("openssl", QStringList{"s_client", "-quiet", "-connect", "127.0.0.1:" + port}
                                     + (own.isEmpty() ? QStringList() : cert));
        QVERIFY(sClient.waitForStarted() && sClient.write("up\n") == 3);
        if (own == "client") {
            QCOMPARE(pty.readMaster(3), QByteArray("up\n"));
            QVERIFY(pty.writeMaster("down\n") && sClient.waitForReadyRead(5000));
            QCOMPARE(sClient.readAllStandardOutput(), QByteArray("down\n"));
            sClient.kill();
        }
        QVERIFY(sClient.waitForFinished(10000));
    }
    QProcess socat;
    socat.start("socat", {"-", "OPENSSL:127.0.0.1:" + port + ",cafile=" + file("ca.pem") + ",cert=" + file("client.pem")
                                   + ",key=" + file("client.key") + ",verify=1"});
    // Its bytes and its end come together: the bytes still arrive.
    QVERIFY(socat.waitForStarted() && socat.write("socat\n") == 6);
    socat.closeWriteChannel();
    QCOMPARE(pty.readMaster(6), QByteArray("socat\n"));
    QScopedPointer<PcomProcess> wrongName(PcomProcess::run({"open", "tcpClient", "address=127.0.0.1", "port=" + port,
                                                            "--tls-ca", file("ca.pem"), "--tls-name", "wrong.example"}));
    QVERIFY2(wrongName->exitCode() == 1 && wrongName->err().contains("host name did not match"), wrongName->err());
    QCOMPARE(pcom.stop(), 0);
    QVERIFY2(pcom.err().contains("(share): 2 accepted, 3 refused (TLS)\n"), pcom.err().constData());
}

QTEST_GUILESS_MAIN(tst_Tls)
#include "tst_tls.moc"
