#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QVariant>

class Plugin_Com_Port;
class TavlinProperty;

// Writes NAME=VALUE settings to a port the way the host's property editor
// would: the name must be a writable property, the value must pass the
// record's validator, and a value outside a choice list must be one that
// the port takes (a serial device path, a custom baud rate). The first
// problem stops it with a one-line reason.
class PropertyAssigner
{
public:
    // What an address record (one that asks for an IPv4 address) takes: what
    // its validator accepts, as the host's editor does, or also IPv6 literals
    // and host names, which are resolved here (as pcom does).
    enum class Addresses { AsRecorded, Resolved };

    struct Assignment {
        QString name;
        QString value;
        bool hasValue = false;
    };

    // "NAME=VALUE"; an argument without '=' has no value.
    static Assignment parse(const QString &argument);

    // Writes the default text of every writable record that has one and is
    // not named in `assignments` ("connect" excepted), as the host does for
    // a new port.
    static void writeDefaults(Plugin_Com_Port *port, const QList<Assignment> &assignments);

    // Checks and writes the assignments in order. Nothing is opened.
    static bool assign(Plugin_Com_Port *port, const QList<Assignment> &assignments, QString *error,
                       Addresses addresses = Addresses::AsRecorded);

    // Why the record of a port of that type refuses the text before it is
    // written; empty when it accepts it.
    static QString rejection(const Plugin_Com_Port *port, const TavlinProperty *record, const QString &text);

    // What the record's validator or input type asks for, in words; empty
    // when anything goes.
    static QString expectation(const Plugin_Com_Port *port, const TavlinProperty *record,
                               Addresses addresses = Addresses::AsRecorded);

    // Words that a port gives a meaning of its own although the record's
    // validator does not know them: a server listens on every address for
    // "any".
    static QStringList specialWords(const Plugin_Com_Port *port, const QString &name);

    // An address for a record that asks for an IPv4 address, from an IPv4
    // or IPv6 literal (also in brackets) or a host name, which is resolved
    // here (an IPv4 address preferred), so that the port gets an address
    // that it parses. False when it is none: with the resolver's reason for
    // a name that does not resolve, `error` untouched for text that is no
    // address or name at all.
    static bool hostAddress(const QString &text, QString *address, QString *error);

    // Settings that a port needs on the command line because its defaults
    // name no peer (the address and port of a port that has an address and
    // serves no clients: a client); false, with the reason, when
    // `assignments` lacks one.
    static bool hasRequired(const Plugin_Com_Port *port, const QList<Assignment> &assignments, QString *error);

    // Whether the bind-address and the address, where both are literal
    // addresses, are of one IP family: a socket bound to one family cannot
    // reach the other, which would show only at the first send. False,
    // with the reason, when they are not.
    static bool addressesAgree(const QList<Assignment> &assignments, QString *error);

    // Names that may be set on the command line.
    static QStringList settableNames(const Plugin_Com_Port *port);

    // Whether the value read back after a write shows that the port took
    // the text (numbers compare as numbers; a device path may read back as
    // its last part).
    static bool takenBack(const QString &text, const QVariant &readBack);
};
