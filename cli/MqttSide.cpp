#include "cli/MqttSide.h"

#include "cli/CommandContext.h"
#include "hostlib/MqttEndpoint.h"
#include "hostlib/PortLink.h"

#include <QFile>
#include <QFileInfo>

MqttSide::MqttSide(CommandContext &context)
    : m_passwordFile(QStringLiteral("mqtt-password-file"),
                     QStringLiteral("The mqtt side logs in with the first line of FILE: USERNAME:PASSWORD "
                                    "(USERNAME alone: no password)."),
                     QStringLiteral("FILE")),
      m_tlsCa(QStringLiteral("tls-ca"),
              QStringLiteral("The mqtt side speaks TLS to its broker (port 8883 unless given), whose "
                             "certificate FILE (PEM) vouches for."),
              QStringLiteral("FILE")),
      m_tlsCert(QStringLiteral("tls-cert"), QStringLiteral("The mqtt side's client certificate (PEM, with --tls-ca)."),
                QStringLiteral("FILE")),
      m_tlsKey(QStringLiteral("tls-key"), QStringLiteral("The key of --tls-cert (PEM, unencrypted)."),
               QStringLiteral("FILE"))
{
    // --tls-ca, --tls-cert and --tls-key are the command's (TlsOptions):
    // the broker's TLS reads them by the same names.
    context.addOption(m_passwordFile);
}

bool MqttSide::names(const QStringList &words)
{
    return !words.isEmpty() && words.first() == QLatin1String("mqtt");
}

QString MqttSide::description()
{
    return QStringLiteral(
        "mqtt (bridge end): MQTT broker: publishes what the other side reads to PREFIX/rx, writes to it what "
        "arrives on PREFIX/tx\n"
        "  settings:  broker=HOST[:PORT] topic=PREFIX qos=0|1 client-id=ID session=clean|persistent keepalive=SECONDS "
        "status=SECONDS cut=SIZE|line quiet=MS format=text|binary topics=single|per-id\n");
}

bool MqttSide::check(const CommandContext &context)
{
    m_caFile = context.value(m_tlsCa);
    m_certFile = context.value(m_tlsCert);
    m_keyFile = context.value(m_tlsKey);
    for (const QString &file : {m_caFile, m_certFile, m_keyFile}) {
        if (!file.isEmpty() && !QFileInfo(file).isReadable()) {
            CommandContext::badInput(QStringLiteral("cannot read the TLS file '%1'").arg(file));
            return false;
        }
    }
    if ((!m_certFile.isEmpty() || !m_keyFile.isEmpty())
        && (m_certFile.isEmpty() || m_keyFile.isEmpty() || m_caFile.isEmpty())) {
        CommandContext::badInput(QStringLiteral("--tls-cert and --tls-key go together, with --tls-ca"));
        return false;
    }
    if (!context.isSet(m_passwordFile))
        return true;
    QFile file(context.value(m_passwordFile));
    if (!file.open(QIODevice::ReadOnly)) {
        CommandContext::badInput(
            QStringLiteral("cannot read the password file '%1': %2").arg(file.fileName(), file.errorString()));
        return false;
    }
    const QString line = QString::fromUtf8(file.readLine()).remove(QLatin1Char('\n')).remove(QLatin1Char('\r'));
    const int colon = line.indexOf(QLatin1Char(':'));
    m_username = colon < 0 ? line : line.left(colon);
    m_password = colon < 0 ? QString() : line.mid(colon + 1);
    if (m_username.isEmpty()) {
        CommandContext::badInput(
            QStringLiteral("the password file '%1' names no user on its first line").arg(file.fileName()));
        return false;
    }
    return true;
}

bool MqttSide::parse(const QStringList &settings)
{
    QString error;
    if (!m_settings.parse(settings, &error)) {
        CommandContext::badInput(error);
        return false;
    }
    m_settings.username = m_username;
    m_settings.password = m_password;
    m_settings.caFile = m_caFile;
    m_settings.certFile = m_certFile;
    m_settings.keyFile = m_keyFile;
    return true;
}

std::unique_ptr<MqttEndpoint> MqttSide::create(PortLink *link) const
{
    auto end = std::make_unique<MqttEndpoint>(m_settings, link->usesFrames(), link->label());
    MqttEndpoint *mqtt = end.get();
    QObject::connect(link, &PortLink::interrupted, mqtt, [mqtt]() { mqtt->setLinkState(QStringLiteral("away")); });
    QObject::connect(link, &PortLink::resumed, mqtt, [mqtt]() { mqtt->setLinkState(QStringLiteral("up")); });
    QObject::connect(link, &PortLink::lost, mqtt, [mqtt]() { mqtt->setLinkState(QStringLiteral("down")); });
    return end;
}
