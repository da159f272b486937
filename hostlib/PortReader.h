#pragma once

#include <QCanBusFrame>
#include <QObject>

#include <vector>

class PCom_CanFrames;
class PCom_ServedClients;
class Plugin_Com_Port;

// Takes what a port has to read whenever it announces data, into one buffer
// that it keeps: byte chunks from a stream port, one frame per read from a
// port that uses frame identifiers (whole, with its format and type, where
// the port has the CAN frames face; error frames included). A consumer that
// cannot take more pauses it from inside received(); what stays unread is
// held back by the port's bounded read buffer, and so by the link's flow
// control where it has one. On a port with served clients each read is one
// client's bytes, and client() tells whose.
class PortReader : public QObject
{
    Q_OBJECT
public:
    explicit PortReader(Plugin_Com_Port *port, QObject *parent = nullptr);

    // Reads what is waiting now, unless paused. Called on every readyRead().
    void drain();
    void pause() { m_paused = true; }
    // Goes on reading, beginning with what waits already.
    void resume();
    bool isPaused() const { return m_paused; }
    // A hold of the protocol spoken above (a client's flow control), apart
    // from pause(): a held reader reads nothing, resumed or not, until it is
    // let go. takeRest() reads all the same.
    void hold(bool held);
    // During received(), on a port with served clients: the client whose
    // bytes they are; 0 elsewhere.
    int client() const { return m_client; }
    // Reads everything that waits, paused or not: a link that ends still
    // gives what it holds.
    void takeRest();

    qint64 bytesRead() const { return m_bytesRead; }

    static const int streamChunk = 256 * 1024;
    static const int frameBuffer = 64;
    // Reads per turn of the event loop: a CAN bus or a UDP sender has no
    // flow control, and a busy one must not starve the rest of the loop.
    static const int readsPerTurn = 64;
    static const int framesPerTurn = 256;

signals:
    // `data` is valid during the emission only: connect directly, and copy
    // what is to be kept.
    void received(const char *data, int size);
    void frameReceived(const QCanBusFrame &frame);

private:
    // One read; false when nothing more is waiting.
    bool readOnce();

    Plugin_Com_Port *m_port;
    bool m_frames;
    PCom_CanFrames *m_canFrames;
    PCom_ServedClients *m_served;
    int m_client = 0;
    bool m_paused = false;
    bool m_held = false;
    bool m_draining = false;
    bool m_continuationQueued = false;
    qint64 m_bytesRead = 0;
    std::vector<char> m_buffer;
};
