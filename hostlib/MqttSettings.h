#pragma once

#include "hostlib/MqttFrameCodec.h"

#include <QString>
#include <QStringList>

// The settings of an MQTT side, read from its NAME=VALUE words:
//   broker=HOST[:PORT]      the broker (port 1883, 8883 with a CA file);
//                           an IPv6 literal in brackets ([::1]:1883)
//   topic=PREFIX            messages go to PREFIX/rx, come from PREFIX/tx,
//                           the gateway's state is PREFIX/status
//   qos=0|1                 default 1
//   client-id=ID            default pcom-HOST-PID; needed for a persistent session
//   session=clean|persistent
//   keepalive=SECONDS       default 10
//   status=SECONDS          how often the status is brought up to date, default 5
// A byte stream is cut into messages at SIZE bytes, after MS quiet or at a
// line end, whichever comes first:
//   cut=SIZE|line           default 4096; `line` (also a bare word) cuts
//                           after each LF
//   quiet=MS                default 20
// CAN frames, one per message:
//   format=text|binary      the forms of MqttFrameCodec, default text
//   topics=single|per-id    per-id: PREFIX/rx/ID for each identifier; frames
//                           are taken on PREFIX/tx and PREFIX/tx/ANY alike
// Credentials and TLS files come from pcom's options, never from these words.
struct MqttSettings
{
    QString host;
    int port = 0;
    QString topic;
    int qos = 1;
    QString clientId;
    bool persistent = false;
    int keepAliveSeconds = 10;
    int statusSeconds = 5;
    int cutSize = 4096;
    bool cutLines = false;
    int quietMs = 20;
    MqttFrameCodec::Form form = MqttFrameCodec::Text;
    bool topicPerId = false;

    QString username;
    QString password;
    QString caFile;
    QString certFile;
    QString keyFile;

    // False, with a one-line reason, at the first bad or unknown word, or
    // when broker= or topic= is missing.
    bool parse(const QStringList &words, QString *error);
    // The broker's port: the one given, or the default for plain or TLS.
    int brokerPort() const { return port > 0 ? port : (caFile.isEmpty() ? 1883 : 8883); }

    static constexpr int maxCutSize = 1024 * 1024;
};
