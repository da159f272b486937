#pragma once

#include "core/PCom_DatagramRefusals.h"

class PCom_PortStatus;
class QAbstractSocket;

// The refusals of a UDP port's destinations, read from its socket's error
// queue (IP_RECVERR): a face of the port's link-status companion (and its
// child), working on the port's socket.
//
// The system also keeps the error for the socket's next send or receive,
// where Qt would take it as a failure of the socket and the port would
// close; reading the queue takes that error too, so a refusal never closes
// the port. The port looks before every send and at its close (on loopback
// the refusal is there as soon as the send returns), and the socket's
// wake-ups look for refusals that come later.
class PCom_UdpClient_Refusals : public PCom_DatagramRefusals
{
    Q_OBJECT
public:
    PCom_UdpClient_Refusals(PCom_PortStatus *status, QAbstractSocket *const &socket);

    void setWatching(bool watching) override;
    bool isWatching() const override { return m_watching; }
    qint64 refusals() const override { return m_refusals; }

    // The port's socket is bound: asks the system for its errors.
    void watchSocket();
    // Reports what the error queue holds now.
    void look();

private:
    void arm();

    QAbstractSocket *const &m_socket;
    bool m_watching = false;
    bool m_armed = false;
    qint64 m_refusals = 0;
};
