#include "tests/support/PcomProcess.h"
#include "tests/support/PseudoTerminal.h"
#include "core/PCom_ServedClients.h"
#include "core/PCom_TlsSettings.h"
#include "tcpclient/PCom_TcpClient_Device.h"
#include "tcpserver/PCom_TcpServer_Device.h"
#include "tcpserver/PCom_TcpServer_Port.h"

#include <QSslSocket>
#include <QTemporaryDir>
#include <QtTest>

// TLS on the TCP server and client ports, with certificates that openssl
// makes for each run: a CA, a server and a client certificate that it
// signed, and a stranger signed by another CA.
class tst_Tls : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void ports();
    void realPeers();

private:
    QString file(const QString &name) const { return m_dir.filePath(name); }
    PCom_TlsConfig config(const QString &own, const QString &ca) const
    {
        PCom_TlsConfig c{true, QSslCertificate::fromPath(file(own + ".pem")), {}, QSslCertificate::fromPath(file(ca)), {}, true};
        QFile key(file(own + ".key"));
        c.privateKey = key.open(QIODevice::ReadOnly) ? QSslKey(&key, QSsl::Ec) : QSslKey();
        return c;
    }
    QTemporaryDir m_dir;
};

void tst_Tls::initTestCase()
{
    const auto openssl = [this](const QStringList &args) {
        return QProcess::execute("openssl", QStringList(args) << "-newkey" << "ec" << "-pkeyopt"
                                     << "ec_paramgen_curve:prime256v1" << "-nodes" << "-days" << "2") == 0;
    };
    for (const QString ca : {"ca", "other"})
        QVERIFY(openssl({"req", "-x509", "-subj", "/CN=" + ca, "-keyout", file(ca + ".key"), "-out", file(ca + ".pem")}));
    for (const auto &[name, ca] : {std::pair<QString, QString>{"server", "ca"}, {"client", "ca"}, {"stranger", "other"}}) {
        QVERIFY(openssl({"req", "-x509", "-subj", "/CN=" + name, "-addext", "basicConstraints=CA:FALSE", "-addext",
                         "subjectAltName=DNS:localhost,IP:127.0.0.1",
                         "-CA", file(ca + ".pem"), "-CAkey", file(ca + ".key"), "-keyout", file(name + ".key"),
                         "-out", file(name + ".pem")}));
    }
}

// A server port that asks for client certificates of the CA: a client with
// one joins and bytes move both ways; without one, or with a stranger's, it
// is refused. Its own client port joins with the right name only.
void tst_Tls::ports()
{
    PCom_TcpServer_Device serverDevice(nullptr, nullptr);
    auto *server = static_cast<PCom_TcpServer_Port *>(serverDevice.createPort());
    server->setTavlinProperty("address", "127.0.0.1");
    server->setTavlinProperty("port", 0);
    QVERIFY(server->linkStatus()->face<PCom_TlsSettings>()->setTls(config("server", "ca.pem"), nullptr));
    QVERIFY(server->open(Plugin_Com_Port::ReadWrite));
    auto *clients = server->linkStatus()->face<PCom_ServedClients>();
    clients->setKeepAccepting(true);
    QSignalSpy joined(clients, &PCom_ServedClients::clientJoined), refused(clients, &PCom_ServedClients::clientRefused);
    for (const QString own : {"client", "", "stranger"}) {
        QSslSocket peer;
        QSslConfiguration conf = peer.sslConfiguration();
        conf.setCaCertificates(QSslCertificate::fromPath(file("ca.pem")));
        if (!own.isEmpty()) {
            conf.setLocalCertificate(config(own, "ca.pem").certificates.value(0));
            conf.setPrivateKey(config(own, "ca.pem").privateKey);
        }
        peer.setSslConfiguration(conf);
        peer.connectToHostEncrypted("localhost", clients->listeningPort());
        QTRY_COMPARE_WITH_TIMEOUT(joined.size() + refused.size(), 1, 10000);
        QCOMPARE(joined.size(), int(own == "client"));
        if (joined.size() == 1) {
            char buf[8] = {};
            QSignalSpy ready(server, &Plugin_Com_Port::readyRead);
            QVERIFY(peer.write("up") == 2 && server->writeRawData("down", 4) == 4);
            QVERIFY(ready.wait(5000) && server->readRawData(buf, 8) == 2 && QByteArray(buf) == "up");
            QTRY_COMPARE_WITH_TIMEOUT(peer.bytesAvailable(), 4, 5000);
            QCOMPARE(peer.readAll(), QByteArray("down"));
        } else {
            QCOMPARE(refused.at(0).at(1).value<PCom_ServedClients::Refusal>(), PCom_ServedClients::Refusal::Tls);
        }
        joined.clear(), refused.clear();
    }
    PCom_TcpClient_Device clientDevice(nullptr, nullptr);
    for (const QString name : {"localhost", "wrong.example"}) {
        Plugin_Com_Port *client = clientDevice.createPort();
        client->setTavlinProperty("address", "127.0.0.1");
        client->setTavlinProperty("port", clients->listeningPort());
        PCom_TlsConfig tls = config("client", "ca.pem");
        tls.peerName = name;
        PCom_LinkStatus *status = static_cast<PCom_Port *>(client)->linkStatus();
        QSignalSpy lost(status, &PCom_LinkStatus::linkLost);
        QVERIFY(status->face<PCom_TlsSettings>()->setTls(tls, nullptr) && client->open(Plugin_Com_Port::ReadWrite));
        QTRY_COMPARE_WITH_TIMEOUT(joined.size() + refused.size(), 1, 10000);
        QCOMPARE(joined.size(), int(name == "localhost"));
        QTRY_COMPARE_WITH_TIMEOUT(status->linkState() == PCom_LinkStatus::LinkState::Open, name == "localhost", 5000);
        QCOMPARE(lost.size() == 1 && lost.at(0).at(0).toString().contains("host name"), name != "localhost");
        clientDevice.deletePort(client);
        joined.clear(), refused.clear();
    }
    serverDevice.deletePort(server);
}

// pcom serving a pseudo-terminal over TLS to openssl s_client and socat;
// the peers without a certificate of the CA are refused and counted, and a
// pcom client refuses a server certificate for another name.
void tst_Tls::realPeers()
{
    PseudoTerminal pty;
    PcomProcess pcom;
    QVERIFY(pcom.startOpened({"bridge", "com", "device=" + pty.slavePath(), "--", "tcpServer", "address=127.0.0.1",
                              "port=0", "--tls-cert", file("server.pem"), "--tls-key", file("server.key"),
                              "--tls-client-ca", file("ca.pem")}));
    const QString to = "127.0.0.1:" + QString::number(pcom.serverPort());
    for (const QString own : {"client", "", "stranger"}) {
        QProcess sClient;
        const QStringList cert{"-cert", file(own + ".pem"), "-key", file(own + ".key")};
        sClient.start("openssl", QStringList{"s_client", "-quiet", "-connect", to} + (own.isEmpty() ? QStringList() : cert));
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
    socat.start("socat", {"-", "OPENSSL:" + to + ",cafile=" + file("ca.pem") + ",cert=" + file("client.pem") + ",key="
                                   + file("client.key") + ",verify=1"});
    QVERIFY(socat.waitForStarted() && socat.write("socat\n") == 6);
    QCOMPARE(pty.readMaster(6), QByteArray("socat\n"));
    QScopedPointer<PcomProcess> wrongName(PcomProcess::run({"open", "tcpClient", "address=127.0.0.1", "port="
                                 + QString::number(pcom.serverPort()), "--tls-ca", file("ca.pem"), "--tls-name", "wrong.example"}));
    QCOMPARE(wrongName->exitCode(), 1);
    QVERIFY2(wrongName->err().contains("host name did not match"), wrongName->err().constData());
    socat.kill();
    QCOMPARE(pcom.stop(), 0);
    QVERIFY2(pcom.err().contains("(share): 2 accepted, 3 refused (TLS)\n"), pcom.err().constData());
}

QTEST_GUILESS_MAIN(tst_Tls)
#include "tst_tls.moc"
