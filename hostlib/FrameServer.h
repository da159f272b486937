#pragma once

#include "hostlib/Endpoint.h"
#include "hostlib/FrameSession.h"

#include <QElapsedTimer>
#include <QHostAddress>
#include <QTcpServer>
#include <QTimer>

#include <functional>
#include <map>
#include <memory>

class QTcpSocket;

// The CAN end of a bridge served over TCP in a text protocol: every client
// that connects gets a session of its own (makeSession: socketcand, SLCAN),
// the frames it sends go to the bus (frameReceived()) and each bus frame
// goes to every client whose session takes it.
//
// Memory stays bounded as on a TCP server side (see ClientPolicy): the end
// is full while a client has more than fullBacklog waiting, which holds the
// bus's reader back; a client that has had more than
// ClientPolicy::slowBacklog waiting for slowSeconds is dropped with an error
// line, and the others go on. While the bridge holds this end's reading,
// clients are not read (their sockets' buffers are bounded too).
class FrameServer : public Endpoint
{
    Q_OBJECT
public:
    using SessionMaker = std::function<std::unique_ptr<FrameSession>()>;

    FrameServer(const QString &label, SessionMaker makeSession, QObject *parent = nullptr);
    ~FrameServer() override;

    // False, with the reason in *error, when the port is not free.
    bool listen(const QHostAddress &address, quint16 port, QString *error);
    quint16 serverPort() const { return m_server.serverPort(); }
    void setSlowSeconds(double seconds) { m_slowMs = qint64(seconds * 1000); }
    int clientCount() const { return int(m_clients.size()); }

    QString label() const override { return m_label; }
    bool usesFrames() const override { return true; }
    void setSourceName(const QString &) override {}
    void start() override;
    void pauseReading() override { m_paused = true; }
    void resumeReading() override;
    // Bytes have no meaning here: the other end of the bridge is a CAN port.
    void write(const char *, int size) override { m_dropped += size; }
    void writeFrame(const QCanBusFrame &frame, qint64 line = 0) override;
    bool isFull() const override;
    qint64 bytesDelivered() const override { return m_delivered; }
    qint64 bytesDropped() const override { return m_dropped; }
    void finishWriting() override { emit writeDone(); }
    void close(int flushMs = -1) override;
    void abort() override;
    bool isClosing() const override { return m_closing; }
    bool isDown() const override { return m_down; }
    bool endedInOrder() const override { return true; }

    static constexpr qint64 fullBacklog = 1024 * 1024;
    static constexpr int readChunk = 64 * 1024;
    // How long close() waits at most for what its clients have not read.
    static constexpr int closeMs = 10000;

private:
    struct Client {
        QTcpSocket *socket;
        std::unique_ptr<FrameSession> session;
        QString name;
        QTimer *timer = nullptr;
        qint64 slowSince = -1;
    };

    void accept();
    void read(int id);
    void followTimer(int id, Client &client);
    void send(Client &client, const QByteArray &bytes);
    void drop(int id, const QString &why);
    void onGone(int id);
    void onWritten(qint64 bytes);
    bool backlogOver(qint64 bound) const;
    void followBacklog();
    void watch();
    void checkDown();

    QString m_label;
    SessionMaker m_makeSession;
    QTcpServer m_server;
    std::map<int, Client> m_clients;
    int m_nextId = 1;
    FrameSession::Counters m_counters;
    qint64 m_delivered = 0;
    qint64 m_dropped = 0;
    qint64 m_slowMs = 5000;
    QElapsedTimer m_clock;
    QTimer m_watch;
    QTimer m_closeDeadline;
    bool m_started = false;
    bool m_paused = false;
    mutable bool m_full = false;
    bool m_closing = false;
    bool m_down = false;
};
