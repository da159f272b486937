#pragma once

#include <QObject>
#include <QString>
#include <QtPlugin>

// What a host that knows this plug-in can learn about a port beyond the host
// framework's interface: the write backlog, the link's loss and its reason,
// the last error of the Qt object underneath, and the write direction's end.
// A host that does not know it sees no difference: every property record and
// log line stays as it is.
//
// Reached as a Qt plug-in interface: qobject_cast<PCom_LinkStatus *>(port).
// A typed interface rather than names found through the meta-object, so that
// a host's compiler checks every call; it needs only this header (installed
// with the CMake package PComLinkStatus), never the plug-in's classes.
//
// The port object also emits these signals, declared with the same
// signatures on every port; connect them by name, for example
//     QObject::connect(port, SIGNAL(bytesWritten(qint64)), receiver, SLOT(...));
//   bytesWritten(qint64 bytes)   bytes left the port for the link (the
//                                kernel or the bus took them; frames on CAN)
//   linkLost(QString reason)     the open link ended without the host asking:
//                                peer closed or reset, device gone, bus or
//                                relay gone, a bind or connect that failed;
//                                emitted once per open, after which the port
//                                reads as closed or closing
//   writeFinished()              the write direction, closed by closeWrite(),
//                                has sent everything it held
//
// The serial port adds its line settings as Q_PROPERTYs (baudRate, dataBits,
// parity, stopBits, flowControl, dataTerminalReady, requestToSend,
// breakEnabled, the read-only modemLines) and the Q_INVOKABLEs
// sendBreak(int milliseconds) and purge(bool received, bool unsent); see
// PCom_Com_Port.
class PCom_LinkStatus
{
public:
    enum class LinkState {
        Closed,     // not open, or lost
        Opening,    // waiting for a network session, a host name or a connection
        Open,       // bytes can move
        Closing,    // closed by the host, the backlog still leaving
    };

    // How the last open ended without the host asking.
    enum class LossKind {
        None,        // it did not (still open, or closed by the host)
        PeerClosed,  // the peer ended the connection (TCP; Qt does not tell
                     // an orderly end from a reset, bytesToWrite() does)
        Failed,      // device gone, bus or relay gone, refused, not found,
                     // bind failed, or any other error of the link
    };

    virtual ~PCom_LinkStatus() = default;

    virtual LinkState linkState() const = 0;
    // Bytes that the port took but that have not yet left for the link
    // (frames on a CAN port; the sum over the clients of a TCP server).
    virtual qint64 bytesToWrite() const = 0;
    // Why the link was lost, or empty while it was not.
    virtual QString linkLostReason() const = 0;
    virtual LossKind linkLoss() const = 0;
    // The error text of the Qt object underneath (socket, serial port, CAN
    // device), empty when it reported none.
    virtual QString lastErrorString() const = 0;
    // How much the port reads ahead of its host, at most; 0 is unbounded.
    // Where the link has flow control (TCP, a serial line), the sender is held
    // back once this much waits to be read.
    virtual void setReadBufferSize(qint64 size) = 0;
    // Whether the link has a write direction of its own to close (TCP).
    virtual bool canCloseWrite() const = 0;
    // Sends what is queued and then ends the write direction (a TCP
    // half-close); reading goes on. False where the link has none or is not
    // open.
    virtual bool closeWrite() = 0;
};

#define PCom_LinkStatus_iid "org.tavlin.PCom_Core.LinkStatus/1.0"
Q_DECLARE_INTERFACE(PCom_LinkStatus, PCom_LinkStatus_iid)
