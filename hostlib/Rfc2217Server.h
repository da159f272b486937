#pragma once

#include "hostlib/Rfc2217Session.h"
#include "hostlib/StreamFilter.h"

#include <QObject>
#include <QTimer>

class PortLink;

// A serial port served to RFC 2217 clients through a TCP server port, as the
// stream filter of the server's side of a bridge (see Rfc2217Session for the
// protocol). Each client that comes gets our offers; the line and modem
// states are looked at while clients are there, and what the masks let
// through is told to them. A client's FLOWCONTROL-SUSPEND stops reading the
// line until its RESUME.
class Rfc2217Server : public QObject, public StreamFilter
{
    Q_OBJECT
public:
    Rfc2217Server(PortLink *network, PortLink *serial, QObject *parent = nullptr);

    QByteArray decode(const char *data, int size) override;
    QByteArray encode(const char *data, int size) override;

    // How often the line and modem states are looked at.
    static constexpr int pollMs = 100;

private:
    void onPortChanged();
    void send(const QByteArray &bytes);
    void followSuspension();

    PortLink *m_network;
    PortLink *m_serial;
    Rfc2217Session m_session;
    QTimer m_poll;
    int m_clients = 0;
    bool m_suspended = false;
};
