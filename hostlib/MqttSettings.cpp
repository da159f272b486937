#include "hostlib/MqttSettings.h"

#include <QCoreApplication>
#include <QHostInfo>

namespace {

bool fail(QString *error, const QString &text)
{
    *error = text;
    return false;
}

bool number(const QString &text, int low, int high, int *out)
{
    bool ok = false;
    const int value = text.toInt(&ok);
    if (!ok || value < low || value > high)
        return false;
    *out = value;
    return true;
}

bool parseBroker(const QString &text, MqttSettings *settings)
{
    QString host = text;
    QString port;
    if (text.startsWith(QLatin1Char('['))) {
        const int close = text.indexOf(QLatin1Char(']'));
        if (close < 0)
            return false;
        host = text.mid(1, close - 1);
        const QString rest = text.mid(close + 1);
        if (!rest.isEmpty() && !rest.startsWith(QLatin1Char(':')))
            return false;
        port = rest.mid(1);
    } else if (text.count(QLatin1Char(':')) == 1) {
        host = text.section(QLatin1Char(':'), 0, 0);
        port = text.section(QLatin1Char(':'), 1);
    }
    if (host.isEmpty())
        return false;
    settings->host = host;
    return port.isNull() || number(port, 1, 65535, &settings->port);
}

} // namespace

bool MqttSettings::parse(const QStringList &words, QString *error)
{
    for (const QString &word : words) {
        const QString name = word.section(QLatin1Char('='), 0, 0);
        const QString value = word.section(QLatin1Char('='), 1);
        const auto bad = [&](const QString &expected) {
            return fail(error,
                        QStringLiteral("mqtt: value '%1' for '%2' rejected: expected %3").arg(value, name, expected));
        };
        if (word == QLatin1String("line")) {
            cutLines = true;
        } else if (!word.contains(QLatin1Char('='))) {
            return fail(error, QStringLiteral("mqtt: '%1' is no NAME=VALUE setting").arg(word));
        } else if (name == QLatin1String("broker")) {
            if (!parseBroker(value, this))
                return bad(QStringLiteral("HOST or HOST:PORT ([ADDRESS]:PORT for IPv6)"));
        } else if (name == QLatin1String("topic")) {
            if (value.isEmpty() || value.contains(QLatin1Char('+')) || value.contains(QLatin1Char('#'))
                || value.endsWith(QLatin1Char('/')))
                return bad(QStringLiteral("a topic prefix without wildcards and without a final '/'"));
            topic = value;
        } else if (name == QLatin1String("qos")) {
            if (!number(value, 0, 1, &qos))
                return bad(QStringLiteral("0 or 1"));
        } else if (name == QLatin1String("client-id")) {
            if (value.isEmpty() || value.toUtf8().size() > 65535)
                return bad(QStringLiteral("a client identifier"));
            clientId = value;
        } else if (name == QLatin1String("session")) {
            if (value != QLatin1String("clean") && value != QLatin1String("persistent"))
                return bad(QStringLiteral("clean or persistent"));
            persistent = value == QLatin1String("persistent");
        } else if (name == QLatin1String("keepalive")) {
            if (!number(value, 5, 65535, &keepAliveSeconds))
                return bad(QStringLiteral("seconds from 5 to 65535"));
        } else if (name == QLatin1String("status")) {
            if (!number(value, 1, 86400, &statusSeconds))
                return bad(QStringLiteral("seconds from 1 to 86400"));
        } else if (name == QLatin1String("cut")) {
            if (value == QLatin1String("line"))
                cutLines = true;
            else if (!number(value, 1, maxCutSize, &cutSize))
                return bad(QStringLiteral("line or a byte count from 1 to %1").arg(maxCutSize));
        } else if (name == QLatin1String("quiet")) {
            if (!number(value, 1, 60000, &quietMs))
                return bad(QStringLiteral("milliseconds from 1 to 60000"));
        } else if (name == QLatin1String("format")) {
            if (value != QLatin1String("text") && value != QLatin1String("binary"))
                return bad(QStringLiteral("text or binary"));
            form = value == QLatin1String("text") ? MqttFrameCodec::Text : MqttFrameCodec::Binary;
        } else if (name == QLatin1String("topics")) {
            if (value != QLatin1String("single") && value != QLatin1String("per-id"))
                return bad(QStringLiteral("single or per-id"));
            topicPerId = value == QLatin1String("per-id");
        } else {
            return fail(error,
                        QStringLiteral("mqtt: unknown setting '%1' (broker, topic, qos, client-id, session, "
                                       "keepalive, status, cut, quiet, format, topics)")
                            .arg(name));
        }
    }
    if (host.isEmpty() || topic.isEmpty())
        return fail(error, QStringLiteral("mqtt needs broker=HOST[:PORT] and topic=PREFIX"));
    if (persistent && clientId.isEmpty())
        return fail(error,
                    QStringLiteral("mqtt: session=persistent needs client-id=ID (the broker keeps the session by it)"));
    if (clientId.isEmpty())
        clientId = QStringLiteral("pcom-%1-%2").arg(QHostInfo::localHostName()).arg(QCoreApplication::applicationPid());
    return true;
}
