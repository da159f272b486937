#pragma once

#include "host/host_export.h"

#include <QRegularExpression>
#include <QValidator>

// A validator for the host's property editor, chosen from a fixed set of
// regular expressions.
class HOST_EXPORT TavlinProperty_RegexValidator : public QValidator
{
    Q_OBJECT
public:
    enum Pattern {
        Integer = 0,         // optional sign and decimal digits
        UnsignedInteger = 1, // decimal digits
        Float = 2,           // decimal number with optional fraction and exponent
        Hex = 3,             // hexadecimal digits, optional 0x prefix
        Identifier = 4,      // letter or underscore, then letters, digits, underscores
        HostName = 5,        // DNS host name: dot-separated labels
        MacAddress = 6,      // six hex byte pairs separated by ':' or '-'
        Ipv6Address = 7,     // text that QHostAddress parses as IPv6
        AnyText = 8,         // anything
        IpAddress = 9,       // dotted IPv4 address, four numbers 0..255
    };
    Q_ENUM(Pattern)

    explicit TavlinProperty_RegexValidator(Pattern pattern, QObject *parent = nullptr);

    Pattern pattern() const { return m_pattern; }
    State validate(QString &input, int &pos) const override;

private:
    Pattern m_pattern;
    QRegularExpression m_full;
    QRegularExpression m_partial;
};
