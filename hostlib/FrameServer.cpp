#include "hostlib/FrameServer.h"

#include "hostlib/ClientPolicy.h"
#include "hostlib/LogReceiver.h"

#include <QTcpSocket>

FrameServer::FrameServer(const QString &label, SessionMaker makeSession, QObject *parent)
    : Endpoint(parent), m_label(label), m_makeSession(std::move(makeSession))
{
    m_clock.start();
    m_watch.setInterval(ClientPolicy::watchMs);
    connect(&m_watch, &QTimer::timeout, this, &FrameServer::watch);
    m_closeDeadline.setSingleShot(true);
    connect(&m_closeDeadline, &QTimer::timeout, this, &FrameServer::abort);
}

FrameServer::~FrameServer()
{
    for (auto &entry : m_clients) {
        entry.second.socket->disconnect(this);
        entry.second.socket->abort();
    }
}

bool FrameServer::listen(const QHostAddress &address, quint16 port, QString *error)
{
    if (m_server.listen(address, port))
        return true;
    *error = QStringLiteral("the %1 side cannot listen on %2 port %3: %4")
                 .arg(m_label, address.toString())
                 .arg(port)
                 .arg(m_server.errorString());
    return false;
}

void FrameServer::start()
{
    m_started = true;
    connect(&m_server, &QTcpServer::newConnection, this, &FrameServer::accept);
    m_watch.start();
    accept();
}

void FrameServer::accept()
{
    while (QTcpSocket *socket = m_server.nextPendingConnection()) {
        if (m_closing) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        const int id = m_nextId++;
        Client &client = m_clients[id];
        client.socket = socket;
        client.session = m_makeSession();
        client.name = QStringLiteral("%1 client %2 (%3:%4)")
                          .arg(m_label)
                          .arg(id)
                          .arg(socket->peerAddress().toString())
                          .arg(socket->peerPort());
        // What the client sent waits in the kernel while this end is held.
        socket->setReadBufferSize(readChunk);
        connect(socket, &QTcpSocket::readyRead, this, [this, id]() { read(id); });
        connect(socket, &QTcpSocket::bytesWritten, this, &FrameServer::onWritten);
        connect(socket, &QTcpSocket::disconnected, this, [this, id]() { onGone(id); });
        LogReceiver::post(QStringLiteral("progress"), QStringLiteral("pcom: %1 joined").arg(client.name));
        send(client, client.session->greeting());
        read(id);
    }
}

void FrameServer::read(int id)
{
    const auto found = m_clients.find(id);
    if (m_paused || m_closing || found == m_clients.end())
        return;
    Client &client = found->second;
    QList<QCanBusFrame> frames;
    const QByteArray bytes = client.socket->read(readChunk);
    send(client, client.session->take(bytes.constData(), bytes.size(), &frames));
    if (client.session->isFinished()) {
        client.socket->disconnectFromHost();
        return;
    }
    followTimer(id, client);
    const bool more = client.socket->bytesAvailable() > 0;
    // The bridge may close this end while it takes a frame: `client` is not
    // looked at after this.
    FrameSession::handOn(this, frames, &m_counters);
    // More than one chunk waits: read on once the bridge had its turn.
    if (more)
        QTimer::singleShot(0, this, [this, id]() { read(id); });
}

void FrameServer::followTimer(int id, Client &client)
{
    const int interval = client.session->timerMs();
    if (client.timer && client.timer->interval() == interval)
        return;
    delete client.timer;
    client.timer = nullptr;
    if (interval <= 0)
        return;
    client.timer = new QTimer(this);
    connect(client.timer, &QTimer::timeout, this, [this, id]() {
        Client &c = m_clients.at(id);
        send(c, c.session->onTimer(m_counters));
    });
    client.timer->start(interval);
}

void FrameServer::resumeReading()
{
    if (!m_paused)
        return;
    m_paused = false;
    for (const auto &entry : m_clients) {
        const int id = entry.first;
        QTimer::singleShot(0, this, [this, id]() { read(id); });
    }
}

void FrameServer::send(Client &client, const QByteArray &bytes)
{
    if (!bytes.isEmpty() && client.socket->state() == QAbstractSocket::ConnectedState)
        client.socket->write(bytes);
}

void FrameServer::writeFrame(const QCanBusFrame &frame, qint64 line)
{
    Q_UNUSED(line)
    m_counters.countBus(frame);
    for (auto &entry : m_clients)
        send(entry.second, entry.second.session->give(frame));
}

bool FrameServer::backlogOver(qint64 bound) const
{
    for (const auto &entry : m_clients) {
        if (entry.second.socket->bytesToWrite() >= bound)
            return true;
    }
    return false;
}

bool FrameServer::isFull() const
{
    m_full = backlogOver(fullBacklog);
    return m_full;
}

void FrameServer::onWritten(qint64 bytes)
{
    m_delivered += bytes;
    followBacklog();
}

void FrameServer::followBacklog()
{
    if (m_full && !backlogOver(fullBacklog)) {
        m_full = false;
        emit backlogLow();
    }
}

void FrameServer::watch()
{
    const qint64 now = m_clock.elapsed();
    QList<int> slow;
    for (auto &entry : m_clients) {
        Client &client = entry.second;
        if (client.socket->bytesToWrite() <= ClientPolicy::slowBacklog)
            client.slowSince = -1;
        else if (client.slowSince < 0)
            client.slowSince = now;
        else if (now - client.slowSince >= m_slowMs)
            slow.append(entry.first);
    }
    for (int id : slow) {
        const qint64 waiting = m_clients.at(id).socket->bytesToWrite();
        drop(id, QStringLiteral("it stopped reading (%1 bytes waiting for %2 s)").arg(waiting).arg(m_slowMs / 1000.0));
    }
}

void FrameServer::drop(int id, const QString &why)
{
    Client &client = m_clients.at(id);
    LogReceiver::post(QStringLiteral("error"), QStringLiteral("pcom: dropped %1: %2").arg(client.name, why));
    m_dropped += client.socket->bytesToWrite();
    client.socket->abort();
    onGone(id);
}

void FrameServer::onGone(int id)
{
    const auto found = m_clients.find(id);
    if (found == m_clients.end())
        return;
    QTcpSocket *socket = found->second.socket;
    LogReceiver::post(QStringLiteral("progress"), QStringLiteral("pcom: %1 left").arg(found->second.name));
    socket->disconnect(this);
    delete found->second.timer;
    // Released inside its own signal.
    socket->deleteLater();
    m_clients.erase(found);
    followBacklog();
    checkDown();
}

void FrameServer::close(int flushMs)
{
    if (m_closing)
        return;
    m_closing = true;
    m_server.close();
    m_watch.stop();
    // A client that reads nothing must not hold the end open.
    m_closeDeadline.start(flushMs >= 0 ? flushMs : closeMs);
    std::vector<QTcpSocket *> sockets;
    for (const auto &entry : m_clients)
        sockets.push_back(entry.second.socket);
    // What waits still leaves; disconnected() follows.
    for (QTcpSocket *socket : sockets)
        socket->disconnectFromHost();
    checkDown();
}

void FrameServer::abort()
{
    m_closing = true;
    m_server.close();
    m_watch.stop();
    while (!m_clients.empty()) {
        const int id = m_clients.begin()->first;
        m_clients.begin()->second.socket->abort();
        onGone(id);
    }
    checkDown();
}

void FrameServer::checkDown()
{
    if (!m_closing || m_down || !m_clients.empty())
        return;
    m_down = true;
    m_closeDeadline.stop();
    emit down();
}
