#pragma once

#include <QObject>
#include <QString>

class Plugin_Com_Port;

// What a host that knows this plug-in can learn about a port beyond the host
// framework's interface: the write backlog, the link's loss and its reason,
// the last error of the Qt object underneath, the write direction's end, the
// read-ahead bound and the largest single write. A host that does not know it
// sees no difference: the port's meta-object, property records and log lines
// stay as they are.
//
// Every port of the plug-in has one such companion, which the port drives;
// a host finds it through the function that the plug-in library exports
// under PCom_LinkStatus_lookupSymbol (resolve it next to the plug-in, as the
// CAN device's setCanPlugin). What only some links have is a face of its own,
// a child of the companion found with face<T>(): PCom_CanFrames,
// PCom_DatagramRefusals, PCom_SerialLine, PCom_ServedClients,
// PCom_TlsSettings. A null face is the answer to "can it?".
//
// The companion lives as long as its port; never keep it beyond.
class PCom_LinkStatus : public QObject
{
    Q_OBJECT
public:
    enum class LinkState {
        Closed,     // not open
        Opening,    // waiting for a network session, a host name or a connection
        Open,       // bytes can move
        Closing,    // closed by the host, the backlog still leaving
    };

    // How the last open ended without the host asking.
    enum class LossKind {
        None,        // it did not (still open, or closed by the host)
        PeerClosed,  // the peer ended the connection (TCP; Qt does not tell
                     // an orderly end from a reset, bytesToWrite() does)
        Failed,      // device gone, line hung up, bus or relay gone, refused,
                     // not found, bind failed, or any other error of the link
    };

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
    // The most bytes that one write may carry and still leave as one piece:
    // a datagram's payload on a datagram link; 0 where any size is fine.
    virtual int maxWriteSize() const = 0;
    // Hands what the port queued to the system now rather than at the next
    // turn of the event loop, so that a relayed byte leaves at once (TCP); a
    // serial port, whose flush fails on a full line, and a link that queues
    // nothing of its own ignore it.
    virtual void flush() = 0;
    // Closes the link at once, dropping what still waits to leave (a
    // connection is aborted, not ended); the port then reads as closed, or
    // closing for as long as Qt needs to finish, as after the host's close.
    // For a stop that must not wait on a peer that does not read.
    virtual void abortLink() = 0;

    // The face of type Face that this link has, or null.
    template <class Face>
    Face *face() const
    {
        return findChild<Face *>(QString(), Qt::FindDirectChildrenOnly);
    }

signals:
    // Bytes left the port for the link (the kernel or the bus took them;
    // frames on CAN).
    void bytesWritten(qint64 bytes);
    // The open link ended without the host asking: peer closed or reset,
    // device gone, line hung up, bus or relay gone, a bind or connect that
    // failed; once per open. A serial port stays open in the host's view
    // (and stops reading) until the host closes it; the others read as
    // closed or closing.
    void linkLost(const QString &reason);
    // The write direction, closed by closeWrite(), has sent everything it
    // held.
    void writeFinished();

protected:
    explicit PCom_LinkStatus(QObject *parent = nullptr) : QObject(parent) {}
};

// The plug-in library's export: the companion of one of its ports, or null
// for a port that is not the plug-in's.
using PCom_LinkStatusLookup = PCom_LinkStatus *(*)(Plugin_Com_Port *port);
#define PCom_LinkStatus_lookupSymbol "pcom_linkStatus"
