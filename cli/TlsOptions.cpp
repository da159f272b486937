#include "cli/TlsOptions.h"

#include "cli/CommandContext.h"
#include "core/PCom_ServedClients.h"
#include "hostlib/MqttSettings.h"
#include "hostlib/PluginHost.h"

#include <QFile>

#include <algorithm>

namespace {

bool refuse(const QString &message)
{
    CommandContext::badInput(message);
    return false;
}

bool readFile(const QString &option, const QString &name, QByteArray *data)
{
    QFile file(name);
    if (!file.open(QIODevice::ReadOnly))
        return refuse(QStringLiteral("--%1: %2: %3").arg(option, name, file.errorString()));
    *data = file.readAll();
    return true;
}

bool readCertificates(const QString &option, const QString &name, QList<QSslCertificate> *certificates)
{
    QByteArray data;
    if (!readFile(option, name, &data))
        return false;
    *certificates = QSslCertificate::fromData(data, QSsl::Pem);
    return !certificates->isEmpty() || refuse(QStringLiteral("--%1: %2 holds no PEM certificate").arg(option, name));
}

bool readKey(const QString &option, const QString &name, QSslKey *key)
{
    QByteArray data;
    if (!readFile(option, name, &data))
        return false;
    for (QSsl::KeyAlgorithm algorithm : {QSsl::Rsa, QSsl::Ec, QSsl::Dsa}) {
        *key = QSslKey(data, algorithm, QSsl::Pem, QSsl::PrivateKey);
        if (!key->isNull())
            return true;
    }
    return refuse(QStringLiteral("--%1: %2 holds no unencrypted PEM private key (RSA, EC or DSA)").arg(option, name));
}

bool serves(Plugin_Com_Port *port)
{
    return PluginHost::face<PCom_ServedClients>(port) != nullptr;
}

bool speaksTls(Plugin_Com_Port *port)
{
    return PluginHost::face<PCom_TlsSettings>(port) != nullptr;
}

bool connectsOut(Plugin_Com_Port *port)
{
    return speaksTls(port) && !serves(port);
}

} // namespace

TlsOptions::TlsOptions(CommandContext &context)
    : m_cert(QStringLiteral("tls-cert"),
             QStringLiteral("tcpServer, tcpClient, mqtt: serve TLS with this certificate (PEM, its chain may follow); "
                            "a TLS client shows it to a server that asks."),
             QStringLiteral("FILE")),
      m_key(QStringLiteral("tls-key"),
            QStringLiteral("tcpServer, tcpClient, mqtt: the private key of --tls-cert (PEM, unencrypted)."),
            QStringLiteral("FILE")),
      m_clientCa(QStringLiteral("tls-client-ca"),
                 QStringLiteral("tcpServer: accept only TLS clients with a certificate signed by a CA in FILE "
                                "(PEM); others are refused and counted."),
                 QStringLiteral("FILE")),
      m_ca(QStringLiteral("tls-ca"),
           QStringLiteral("tcpClient, mqtt: speak TLS, and accept only a server certificate signed by a CA in FILE "
                          "(PEM; default: the system's CAs)."),
           QStringLiteral("FILE")),
      m_name(QStringLiteral("tls-name"),
             QStringLiteral("tcpClient: speak TLS, and accept only a server certificate for NAME (default: the "
                            "address)."),
             QStringLiteral("NAME")),
      m_insecure(QStringLiteral("tls-insecure-no-verify"),
                 QStringLiteral("tcpClient: speak TLS without checking the server's certificate at all."))
{
    for (const QCommandLineOption *option : {&m_cert, &m_key, &m_clientCa, &m_ca, &m_name, &m_insecure})
        context.addOption(*option);
}

bool TlsOptions::check(const CommandContext &context)
{
    if (context.isSet(m_cert) != context.isSet(m_key))
        return refuse(QStringLiteral("--tls-cert and --tls-key go together"));
    if (context.isSet(m_clientCa) && !context.isSet(m_cert))
        return refuse(QStringLiteral("--tls-client-ca needs --tls-cert and --tls-key"));
    if (context.isSet(m_insecure) && (context.isSet(m_ca) || context.isSet(m_name)))
        return refuse(QStringLiteral("--tls-insecure-no-verify leaves nothing for --tls-ca or --tls-name to check"));
    PCom_TlsConfig own;
    if (context.isSet(m_cert)
        && (!readCertificates(m_cert.names().constFirst(), context.value(m_cert), &own.certificates)
            || !readKey(m_key.names().constFirst(), context.value(m_key), &own.privateKey)))
        return false;
    m_server = own;
    m_server.enabled = context.isSet(m_cert);
    if (context.isSet(m_clientCa)
        && !readCertificates(m_clientCa.names().constFirst(), context.value(m_clientCa), &m_server.caCertificates))
        return false;
    m_client = own;
    m_client.enabled = context.isSet(m_ca) || context.isSet(m_name) || context.isSet(m_insecure);
    m_client.peerName = context.value(m_name);
    m_client.verifyPeer = !context.isSet(m_insecure);
    return !context.isSet(m_ca)
           || readCertificates(m_ca.names().constFirst(), context.value(m_ca), &m_client.caCertificates);
}

bool TlsOptions::fits(const QList<Plugin_Com_Port *> &ports) const
{
    const auto any = [&ports](bool (*takes)(Plugin_Com_Port *)) {
        return std::any_of(ports.begin(), ports.end(), takes);
    };
    if (!m_server.caCertificates.isEmpty() && !any(&serves))
        return refuse(QStringLiteral("--tls-client-ca applies to tcpServer ports only"));
    if (clientSet() && !any(&connectsOut))
        return refuse(QStringLiteral("--tls-ca, --tls-name and --tls-insecure-no-verify apply to tcpClient ports only"));
    if (m_server.enabled && !any(&serves) && !(clientSet() && any(&connectsOut)))
        return refuse(QStringLiteral("--tls-cert applies to tcpServer ports, and to tcpClient ports that speak TLS "
                                     "(--tls-ca, --tls-name or --tls-insecure-no-verify)"));
    return true;
}

bool TlsOptions::apply(Plugin_Com_Port *port) const
{
    PCom_TlsSettings *face = PluginHost::face<PCom_TlsSettings>(port);
    const PCom_TlsConfig &config = serves(port) ? m_server : m_client;
    if (!face || !config.enabled)
        return true;
    QString error;
    return face->setTls(config, &error) || refuse(QStringLiteral("TLS: %1").arg(error));
}

void TlsOptions::brokerFiles(const CommandContext &context, MqttSettings *settings) const
{
    settings->caFile = context.value(m_ca);
    settings->certFile = context.value(m_cert);
    settings->keyFile = context.value(m_key);
}
