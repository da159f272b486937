#include "tests/fuzz/FuzzValues.h"

#include <QDate>
#include <QStringList>
#include <QUrl>

namespace {
const QStringList kKnownNames = {
    QStringLiteral("plugin"),  QStringLiteral("interface"),    QStringLiteral("device"),
    QStringLiteral("baudrate"), QStringLiteral("connect"),     QStringLiteral("port"),
    QStringLiteral("address"), QStringLiteral("bind-address"), QStringLiteral("bind-port"),
};
}

QString FuzzValues::pick(const QStringList &choices)
{
    return choices.at(m_data.ConsumeIntegralInRange<int>(0, choices.size() - 1));
}

QString FuzzValues::name()
{
    switch (m_data.ConsumeIntegralInRange<int>(0, 3)) {
    case 0:
    case 1:
        return pick(kKnownNames);
    case 2: {
        // A near miss: case, blanks.
        QString known = pick(kKnownNames);
        return m_data.ConsumeBool() ? known.toUpper() : known + QLatin1Char(' ');
    }
    default:
        return QString::fromUtf8(QByteArray::fromStdString(m_data.ConsumeRandomLengthString(24)));
    }
}

QString FuzzValues::canInterface()
{
    return QStringLiteral("tcp://127.0.0.1:%1/%2").arg(m_endpoints.relay).arg(pick({"can0", "can0", "can0", "can1", "can7", "garbage"}));
}

QVariant FuzzValues::anyValue()
{
    switch (m_data.ConsumeIntegralInRange<int>(0, 14)) {
    case 0:
        return QVariant();
    case 1:
        return m_data.ConsumeBool();
    case 2:
        return m_data.ConsumeIntegral<int>();
    case 3:
        return m_data.ConsumeIntegral<uint>();
    case 4:
        return m_data.ConsumeIntegral<qlonglong>();
    case 5:
        return m_data.ConsumeIntegral<qulonglong>();
    case 6:
        return m_data.ConsumeFloatingPoint<double>();
    case 7:
        return QString::fromUtf8(QByteArray::fromStdString(m_data.ConsumeRandomLengthString(64)));
    case 8:
        return QByteArray::fromStdString(m_data.ConsumeRandomLengthString(64));
    case 9: {
        QStringList list;
        const int count = m_data.ConsumeIntegralInRange<int>(0, 3);
        for (int i = 0; i < count; ++i)
            list.append(QString::fromUtf8(QByteArray::fromStdString(m_data.ConsumeRandomLengthString(16))));
        return list;
    }
    case 10:
        return QChar(m_data.ConsumeIntegral<ushort>());
    case 11:
        return QVariantList{anyValue(), anyValue()};
    case 12:
        return QVariantMap{{QStringLiteral("k"), anyValue()}};
    case 13:
        return QDate::fromJulianDay(m_data.ConsumeIntegralInRange<qint64>(0, 5000000));
    default:
        return QUrl(QString::fromUtf8(QByteArray::fromStdString(m_data.ConsumeRandomLengthString(32))));
    }
}

QVariant FuzzValues::text(const QString &text)
{
    switch (m_data.ConsumeIntegralInRange<int>(0, 2)) {
    case 0:
        return text;
    case 1:
        return text.toUtf8();
    default:
        return QStringList{text};
    }
}

// Only exact representations of the number, so that every conversion gives
// the number back (or its low 16 bits, for the one above 65535).
QVariant FuzzValues::number(quint32 number)
{
    switch (m_data.ConsumeIntegralInRange<int>(0, 7)) {
    case 0:
        return int(number);
    case 1:
        return uint(number);
    case 2:
        return qlonglong(number);
    case 3:
        return double(number);
    case 4:
        return QString::number(number);
    case 5:
        return QByteArray::number(number);
    case 6:
        return uint(number + 65536);
    default:
        return number == 0 ? QVariant(false) : QVariant(qulonglong(number));
    }
}

QVariant FuzzValues::value(Kind kind, const QString &name)
{
    const bool tcp = kind == TcpServer || kind == TcpClient;
    if (name == QLatin1String("address") || name == QLatin1String("bind-address")) {
        // A TCP client resolves what is not a numeric address: no names.
        if (kind == TcpClient)
            return text(pick({"127.0.0.1", "::1", "", "0"}));
        return text(pick({"127.0.0.1", "::1", "", "any", "garbage", "0"}));
    }
    if ((name == QLatin1String("port") && (tcp || kind == UdpClient)) || name == QLatin1String("bind-port")) {
        const quint16 sink = tcp ? m_endpoints.tcpSink : m_endpoints.udpSink;
        return number(m_data.ConsumeBool() ? sink : 0);
    }
    if (name == QLatin1String("device") && kind == Serial)
        return text(pick({m_endpoints.ptyPath, "/dev/pcom-fuzz-nonexistent", "pcom-fuzz-nonexistent", ""}));
    if (name == QLatin1String("device") && kind == Can) {
        const QString url = canInterface();
        return m_data.ConsumeBool() ? QVariant(url) : QVariant(url.toUtf8());
    }
    if (name == QLatin1String("interface") && kind == Can)
        return text(pick({"", "virtualcan", "pcom-fuzz-nonexistent"}));
    return anyValue();
}
