#pragma once

#include "hostlib/MqttSettings.h"

#include <QCommandLineOption>
#include <QString>
#include <QStringList>

#include <memory>

class CommandContext;
class MqttEndpoint;
class PortLink;

// The side of pcom bridge on an MQTT broker (TYPE mqtt, see MqttSettings for
// its words) and pcom's options for it: the credentials from a file, never
// from the command line, and the TLS files.
class MqttSide
{
public:
    // Adds the options to the command's parser.
    explicit MqttSide(CommandContext &context);

    // Whether a side's words name this kind.
    static bool names(const QStringList &words);
    // What pcom devices says of the kind.
    static QString description();

    // After parsing: false, with a bad-input line, for an unreadable file or
    // a client certificate without its key.
    bool check(const CommandContext &context);
    // The side's words after its TYPE; false, with a bad-input line.
    bool parse(const QStringList &settings);
    // The end on the broker for the port behind `link`, whose state the
    // status reports.
    std::unique_ptr<MqttEndpoint> create(PortLink *link) const;

private:
    QCommandLineOption m_passwordFile;
    QCommandLineOption m_tlsCa;
    QCommandLineOption m_tlsCert;
    QCommandLineOption m_tlsKey;
    MqttSettings m_settings;
    QString m_username;
    QString m_password;
    QString m_caFile;
    QString m_certFile;
    QString m_keyFile;
};
