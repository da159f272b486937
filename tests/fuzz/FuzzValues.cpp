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

QString FuzzValues::string(size_t maxLength)
{
    return QString::fromStdString(m_data.ConsumeRandomLengthString(maxLength));
}

QString FuzzValues::name()
{
    const QString known = pick(kKnownNames);
    switch (m_data.ConsumeIntegralInRange<int>(0, 3)) {
    case 2: // a near miss: case, blanks
        return m_data.ConsumeBool() ? known.toUpper() : known + QLatin1Char(' ');
    case 3:
        return string(24);
    default:
        return known;
    }
}

QString FuzzValues::canInterface()
{
    return QStringLiteral("tcp://127.0.0.1:%1/%2").arg(m_endpoints.relay).arg(pick({"can0", "can0", "can1", "garbage"}));
}

QVariant FuzzValues::anyValue()
{
    switch (m_data.ConsumeIntegralInRange<int>(0, 14)) {
    case 0: return QVariant();
    case 1: return m_data.ConsumeBool();
    case 2: return m_data.ConsumeIntegral<int>();
    case 3: return m_data.ConsumeIntegral<uint>();
    case 4: return m_data.ConsumeIntegral<qlonglong>();
    case 5: return m_data.ConsumeIntegral<qulonglong>();
    case 6: return m_data.ConsumeFloatingPoint<double>();
    case 7: return string(64);
    case 8: return QByteArray::fromStdString(m_data.ConsumeRandomLengthString(64));
    case 9: return QStringList(QStringList{string(16), string(16)}.mid(m_data.ConsumeIntegralInRange<int>(0, 2)));
    case 10: return QChar(m_data.ConsumeIntegral<ushort>());
    case 11: return QVariantList{anyValue(), anyValue()};
    case 12: return QVariantMap{{QStringLiteral("k"), anyValue()}};
    case 13: return QDate::fromJulianDay(m_data.ConsumeIntegralInRange<qint64>(0, 5000000));
    default: return QUrl(string(32));
    }
}

QVariant FuzzValues::text(const QString &text)
{
    switch (m_data.ConsumeIntegralInRange<int>(0, 2)) {
    case 0: return text;
    case 1: return text.toUtf8();
    default: return QStringList{text};
    }
}

// Only exact representations of the number, so that every conversion gives
// the number back (or its low 16 bits, for the one above 65535).
QVariant FuzzValues::number(quint32 number)
{
    switch (m_data.ConsumeIntegralInRange<int>(0, 7)) {
    case 0: return int(number);
    case 1: return uint(number);
    case 2: return qlonglong(number);
    case 3: return double(number);
    case 4: return QString::number(number);
    case 5: return QByteArray::number(number);
    case 6: return uint(number + 65536);
    default: return number == 0 ? QVariant(false) : QVariant(qulonglong(number));
    }
}

QVariant FuzzValues::value(Kind kind, const QString &name)
{
    const bool tcp = kind == TcpServer || kind == TcpClient;
    if (name == QLatin1String("address") || name == QLatin1String("bind-address")) {
        // A TCP client resolves what is not a numeric address: no names.
        return text(kind == TcpClient ? pick({"127.0.0.1", "::1", "", "0"})
                                      : pick({"127.0.0.1", "::1", "", "any", "garbage", "0"}));
    }
    if ((name == QLatin1String("port") && (tcp || kind == UdpClient)) || name == QLatin1String("bind-port"))
        return number(m_data.ConsumeBool() ? (tcp ? m_endpoints.tcpSink : m_endpoints.udpSink) : 0);
    if (name == QLatin1String("device") && kind == Serial)
        return text(pick({m_endpoints.ptyPath, "/dev/pcom-fuzz-nonexistent", "pcom-fuzz-nonexistent", ""}));
    if (name == QLatin1String("device") && kind == Can)
        return m_data.ConsumeBool() ? QVariant(canInterface()) : QVariant(canInterface().toUtf8());
    if (name == QLatin1String("interface") && kind == Can)
        return text(pick({"", "virtualcan", "pcom-fuzz-nonexistent"}));
    return anyValue();
}
