#pragma once

#include "hostlib/FrameSession.h"
#include "hostlib/SocketcandParser.h"

#include <QString>

// One socketcand client of a served CAN bus, named `channel`. The client is
// greeted with < hi >; < open NAME > of that name answers < ok > and puts
// it in BCM mode, any other name is refused and the client closed. In raw
// mode it is sent every bus frame; < send > and < sendrtr > go to the bus in
// BCM and raw mode; control mode sends < stat RXBYTES RXFRAMES TXBYTES
// TXFRAMES > every < statistics MS > (the bus's frames as this end carried
// them). The broadcast manager's jobs and filters and ISO-TP are not here:
// they, and whatever does not fit the mode, are answered with < error ... >.
class SocketcandSession : public FrameSession
{
public:
    explicit SocketcandSession(const QString &channel) : m_channel(channel) {}

    QByteArray greeting() override { return QByteArrayLiteral("< hi >"); }
    QByteArray take(const char *data, int size, QList<QCanBusFrame> *frames) override;
    QByteArray give(const QCanBusFrame &frame) override;
    bool isFinished() const override { return m_finished; }
    int timerMs() const override { return m_mode == Mode::Control ? m_statisticsMs : 0; }
    QByteArray onTimer(const Counters &counters) override;

private:
    enum class Mode { NoBus, Bcm, Raw, Control };

    QByteArray answer(const SocketcandParser::Command &command, QList<QCanBusFrame> *frames);

    SocketcandParser m_parser;
    QString m_channel;
    Mode m_mode = Mode::NoBus;
    int m_statisticsMs = 0;
    bool m_finished = false;
};
