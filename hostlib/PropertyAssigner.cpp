#include "hostlib/PropertyAssigner.h"

#include "core/PCom_ServedClients.h"
#include "hostlib/PluginHost.h"

#include "host/Plugin_Com_Port.h"
#include "host/TavlinProperty.h"
#include "host/TavlinProperty_RegexValidator.h"

#include <QDoubleValidator>
#include <QHostAddress>
#include <QHostInfo>
#include <QIntValidator>
#include <QRegularExpressionValidator>
#include <QSet>
#include <QUrl>

#include <algorithm>

namespace {

const QString connectName = QStringLiteral("connect");

QString patternWords(TavlinProperty_RegexValidator::Pattern pattern)
{
    switch (pattern) {
    case TavlinProperty_RegexValidator::Integer:
        return QStringLiteral("an integer");
    case TavlinProperty_RegexValidator::UnsignedInteger:
        return QStringLiteral("an unsigned integer");
    case TavlinProperty_RegexValidator::Float:
        return QStringLiteral("a decimal number");
    case TavlinProperty_RegexValidator::Hex:
        return QStringLiteral("a hexadecimal number");
    case TavlinProperty_RegexValidator::Identifier:
        return QStringLiteral("an identifier (letters, digits, underscores)");
    case TavlinProperty_RegexValidator::HostName:
        return QStringLiteral("a host name");
    case TavlinProperty_RegexValidator::MacAddress:
        return QStringLiteral("a MAC address such as 00:11:22:33:44:55");
    case TavlinProperty_RegexValidator::Ipv6Address:
        return QStringLiteral("an IPv6 address");
    case TavlinProperty_RegexValidator::AnyText:
        return QString();
    case TavlinProperty_RegexValidator::IpAddress:
        return QStringLiteral("an IPv4 address such as 127.0.0.1");
    }
    return QString();
}

QString shortList(const QStringList &items)
{
    const int limit = 16;
    QString text = items.mid(0, limit).join(QStringLiteral(", "));
    if (items.size() > limit)
        text += QStringLiteral(", ... (%1 in all)").arg(items.size());
    return text;
}

bool isNumeric(const QVariant &value)
{
    switch (value.userType()) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Double:
        return true;
    default:
        return false;
    }
}

const QString addressWords = QStringLiteral("an IPv4 address such as 127.0.0.1, an IPv6 address or a host name");

bool asksForAddress(const TavlinProperty *record)
{
    auto *v = qobject_cast<const TavlinProperty_RegexValidator *>(record->validator());
    return v && v->pattern() == TavlinProperty_RegexValidator::IpAddress;
}

QString validatorWords(const TavlinProperty *record, PropertyAssigner::Addresses addresses)
{
    if (addresses == PropertyAssigner::Addresses::Resolved && asksForAddress(record))
        return addressWords;
    if (record->inputType() == TavlinProperty::Boolean)
        return QStringLiteral("true or false");
    const QValidator *validator = record->validator();
    if (!validator)
        return QString();
    if (auto *v = qobject_cast<const QIntValidator *>(validator))
        return QStringLiteral("an integer from %1 to %2").arg(v->bottom()).arg(v->top());
    if (auto *v = qobject_cast<const QDoubleValidator *>(validator))
        return QStringLiteral("a number from %1 to %2").arg(v->bottom()).arg(v->top());
    if (auto *v = qobject_cast<const TavlinProperty_RegexValidator *>(validator))
        return patternWords(v->pattern());
    if (auto *v = qobject_cast<const QRegularExpressionValidator *>(validator))
        return QStringLiteral("text matching %1").arg(v->regularExpression().pattern());
    return QStringLiteral("a value that its validator accepts");
}

} // namespace

PropertyAssigner::Assignment PropertyAssigner::parse(const QString &argument)
{
    Assignment a;
    const int eq = argument.indexOf(QLatin1Char('='));
    if (eq < 0) {
        a.name = argument;
        return a;
    }
    a.name = argument.left(eq);
    a.value = argument.mid(eq + 1);
    a.hasValue = true;
    return a;
}

void PropertyAssigner::writeDefaults(Plugin_Com_Port *port, const QList<Assignment> &assignments)
{
    QSet<QString> named;
    for (const Assignment &a : assignments)
        named.insert(a.name);
    for (const TavlinProperty *record : port->tavlinProperties()) {
        if (record->name() == connectName || !record->isWritable() || record->defaultValue().isEmpty()
            || named.contains(record->name()))
            continue;
        port->setTavlinProperty(record->name(), record->defaultValue());
    }
}

QStringList PropertyAssigner::settableNames(const Plugin_Com_Port *port)
{
    QStringList names;
    for (const TavlinProperty *record : port->tavlinProperties()) {
        if (record->isWritable() && record->name() != connectName)
            names.append(record->name());
    }
    return names;
}

QStringList PropertyAssigner::specialWords(const Plugin_Com_Port *port, const QString &name)
{
    if (name == QLatin1String("address") && PluginHost::face<PCom_ServedClients>(port))
        return {QStringLiteral("any")};
    return {};
}

QString PropertyAssigner::expectation(const Plugin_Com_Port *port, const TavlinProperty *record, Addresses addresses)
{
    QString words = validatorWords(record, addresses);
    const QStringList special = specialWords(port, record->name());
    if (!words.isEmpty() && !special.isEmpty())
        words += QStringLiteral(", or ") + special.join(QStringLiteral(", or "));
    return words;
}

bool PropertyAssigner::hasRequired(const Plugin_Com_Port *port, const QList<Assignment> &assignments, QString *error)
{
    if (!port->tavlinProperty(QStringLiteral("address")) || PluginHost::face<PCom_ServedClients>(port))
        return true;
    for (const char *required : {"address", "port"}) {
        const auto named = [required](const Assignment &a) { return a.name == QLatin1String(required); };
        if (std::none_of(assignments.begin(), assignments.end(), named)) {
            *error = QStringLiteral("a %1 port needs address= and port= (where its peer is)").arg(port->typeKey());
            return false;
        }
    }
    return true;
}

bool PropertyAssigner::addressesAgree(const QList<Assignment> &assignments, QString *error)
{
    QHostAddress bound, peer;
    QString boundText, peerText;
    for (const Assignment &a : assignments) {
        QString bare = a.value;
        if (bare.startsWith(QLatin1Char('[')) && bare.endsWith(QLatin1Char(']')))
            bare = bare.mid(1, bare.size() - 2);
        if (a.name == QLatin1String("bind-address") && bound.setAddress(bare))
            boundText = a.value;
        else if (a.name == QLatin1String("address") && peer.setAddress(bare))
            peerText = a.value;
    }
    if (boundText.isEmpty() || peerText.isEmpty() || bound.protocol() == peer.protocol())
        return true;
    const auto family = [](const QHostAddress &a) {
        return a.protocol() == QAbstractSocket::IPv6Protocol ? QStringLiteral("IPv6") : QStringLiteral("IPv4");
    };
    *error = QStringLiteral("bind-address=%1 is an %2 address and address=%3 an %4 one: a socket bound to one "
                            "family cannot reach the other")
                 .arg(boundText, family(bound), peerText, family(peer));
    return false;
}

bool PropertyAssigner::hostAddress(const QString &text, QString *address, QString *error)
{
    const bool bracketed = text.startsWith(QLatin1Char('[')) && text.endsWith(QLatin1Char(']'));
    const QString bare = bracketed ? text.mid(1, text.size() - 2) : text;
    QHostAddress literal;
    if (literal.setAddress(bare)) {
        *address = literal.toString();
        return true;
    }
    // Only what can be a name goes to the resolver.
    static const QRegularExpression name(QStringLiteral("^(?!.{254})([A-Za-z0-9]([A-Za-z0-9-]{0,61}[A-Za-z0-9])?\\.)*"
                                                        "[A-Za-z0-9]([A-Za-z0-9-]{0,61}[A-Za-z0-9])?\\.?$"));
    if (bracketed || !name.match(bare).hasMatch())
        return false;
    const QHostInfo info = QHostInfo::fromName(bare);
    if (info.error() != QHostInfo::NoError || info.addresses().isEmpty()) {
        *error = QStringLiteral("host name %1 does not resolve: %2").arg(bare, info.errorString());
        return false;
    }
    *address = info.addresses().constFirst().toString();
    for (const QHostAddress &a : info.addresses()) {
        if (a.protocol() == QAbstractSocket::IPv4Protocol) {
            *address = a.toString();
            break;
        }
    }
    return true;
}

QString PropertyAssigner::rejection(const Plugin_Com_Port *port, const TavlinProperty *record, const QString &text)
{
    // A port may keep any text in a record whose options are all numbers
    // (a CAN bit rate) and fail only at the open.
    const QStringList options = record->options();
    const auto number = [](const QString &t) {
        bool ok = false;
        return t.toLongLong(&ok) > 0 && ok;
    };
    if (!options.isEmpty() && std::all_of(options.begin(), options.end(), number) && !number(text))
        return QStringLiteral("expected a positive integer such as %1").arg(options.constFirst());
    // A device named by URL (tcp://127.0.0.1:35468/can0) must be one: a
    // back-end may take a bad one for its default.
    if (record->name() == QLatin1String("device") && text.contains(QLatin1String("://"))) {
        const QUrl url(text, QUrl::StrictMode);
        if (!url.isValid())
            return QStringLiteral("not a valid URL: %1").arg(url.errorString());
    }
    if (record->acceptsText(text) || specialWords(port, record->name()).contains(text))
        return QString();
    const QString expected = expectation(port, record);
    return expected.isEmpty() ? QStringLiteral("the property's validator refuses it")
                              : QStringLiteral("expected %1").arg(expected);
}

bool PropertyAssigner::takenBack(const QString &text, const QVariant &readBack)
{
    if (!readBack.isValid())
        return false;
    if (isNumeric(readBack)) {
        bool ok = false;
        const double number = text.trimmed().toDouble(&ok);
        return ok && number == readBack.toDouble();
    }
    if (readBack.userType() == QMetaType::Bool) {
        const QString t = text.trimmed().toLower();
        return (t == QLatin1String("true") || t == QLatin1String("1")) == readBack.toBool();
    }
    const QString back = readBack.toString();
    return back == text || (!back.isEmpty() && text.endsWith(QLatin1Char('/') + back));
}

bool PropertyAssigner::assign(Plugin_Com_Port *port, const QList<Assignment> &assignments, QString *error,
                              Addresses addresses)
{
    const QString kind = port->typeKey();
    for (Assignment a : assignments) {
        const TavlinProperty *record = port->tavlinProperty(a.name);
        if (a.name.isEmpty()) {
            *error = QStringLiteral("'=%1' names no property; settable on a %2 port: %3")
                         .arg(a.value, kind, settableNames(port).join(QStringLiteral(", ")));
            return false;
        }
        if (!record) {
            *error = QStringLiteral("unknown property '%1' of a %2 port; settable: %3")
                         .arg(a.name, kind, settableNames(port).join(QStringLiteral(", ")));
            return false;
        }
        if (a.name == connectName) {
            *error = QStringLiteral("'connect' is not set on the command line: pcom opens the port itself "
                                    "after writing the other properties");
            return false;
        }
        if (!a.hasValue) {
            *error = QStringLiteral("missing value for '%1': write %1=VALUE").arg(a.name);
            return false;
        }
        if (!record->isWritable()) {
            *error = QStringLiteral("property '%1' of a %2 port is read-only").arg(a.name, kind);
            return false;
        }
        QString why = rejection(port, record, a.value);
        if (!why.isEmpty() && addresses == Addresses::Resolved && asksForAddress(record)) {
            why = QStringLiteral("expected %1").arg(expectation(port, record, addresses));
            if (hostAddress(a.value, &a.value, &why))
                why.clear();
        }
        if (!why.isEmpty()) {
            *error = QStringLiteral("value '%1' for '%2' rejected: %3").arg(a.value, a.name, why);
            return false;
        }

        const QStringList options = record->options();
        const QVariant readBack = port->setTavlinProperty(a.name, a.value);
        if (!options.isEmpty() && !options.contains(a.value) && !takenBack(a.value, readBack)) {
            *error = QStringLiteral("value '%1' for '%2' rejected: it is none of the options (%3) and the port "
                                    "did not take it (it reads back '%4')")
                         .arg(a.value, a.name, shortList(options), readBack.toString());
            return false;
        }
    }
    return true;
}
