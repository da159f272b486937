#include "host/TavlinProperty_RegexValidator.h"

#include <QHostAddress>

namespace {

const char *fullPattern(TavlinProperty_RegexValidator::Pattern p)
{
    switch (p) {
    case TavlinProperty_RegexValidator::Integer:
        return "[+-]?\\d+";
    case TavlinProperty_RegexValidator::UnsignedInteger:
        return "\\d+";
    case TavlinProperty_RegexValidator::Float:
        return "[+-]?(\\d+(\\.\\d*)?|\\.\\d+)([eE][+-]?\\d+)?";
    case TavlinProperty_RegexValidator::Hex:
        return "(0[xX])?[0-9A-Fa-f]+";
    case TavlinProperty_RegexValidator::Identifier:
        return "[A-Za-z_][A-Za-z0-9_]*";
    case TavlinProperty_RegexValidator::HostName:
        return "[A-Za-z0-9]([A-Za-z0-9-]{0,61}[A-Za-z0-9])?(\\.[A-Za-z0-9]([A-Za-z0-9-]{0,61}[A-Za-z0-9])?)*";
    case TavlinProperty_RegexValidator::MacAddress:
        return "[0-9A-Fa-f]{2}([:-][0-9A-Fa-f]{2}){5}";
    case TavlinProperty_RegexValidator::Ipv6Address:
        return "[0-9A-Fa-f:.]+";
    case TavlinProperty_RegexValidator::AnyText:
        return ".*";
    case TavlinProperty_RegexValidator::IpAddress:
        return "((25[0-5]|2[0-4]\\d|1\\d\\d|[1-9]?\\d)\\.){3}(25[0-5]|2[0-4]\\d|1\\d\\d|[1-9]?\\d)";
    }
    return ".*";
}

// What a user may have typed on the way to a full match.
const char *partialPattern(TavlinProperty_RegexValidator::Pattern p)
{
    switch (p) {
    case TavlinProperty_RegexValidator::Integer:
        return "[+-]?\\d*";
    case TavlinProperty_RegexValidator::IpAddress:
        return "((25[0-5]|2[0-4]\\d|1\\d\\d|[1-9]?\\d)\\.){0,3}(25[0-5]|2[0-4]\\d|1\\d\\d|[1-9]?\\d)?";
    case TavlinProperty_RegexValidator::Hex:
        return "(0[xX]?)?[0-9A-Fa-f]*";
    case TavlinProperty_RegexValidator::MacAddress:
        return "[0-9A-Fa-f:-]{0,17}";
    default:
        return fullPattern(p);
    }
}

QRegularExpression anchored(const char *pattern)
{
    return QRegularExpression(QRegularExpression::anchoredPattern(QString::fromLatin1(pattern)));
}

} // namespace

TavlinProperty_RegexValidator::TavlinProperty_RegexValidator(Pattern pattern, QObject *parent)
    : QValidator(parent),
      m_pattern(pattern),
      m_full(anchored(fullPattern(pattern))),
      m_partial(anchored(partialPattern(pattern)))
{
}

QValidator::State TavlinProperty_RegexValidator::validate(QString &input, int &) const
{
    if (m_full.match(input).hasMatch()) {
        if (m_pattern == Ipv6Address
            && QHostAddress(input).protocol() != QAbstractSocket::IPv6Protocol)
            return Intermediate;
        return Acceptable;
    }
    if (input.isEmpty() || m_partial.match(input).hasMatch())
        return Intermediate;
    return Invalid;
}
