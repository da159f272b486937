#pragma once

#include <QByteArray>
#include <QObject>

class Plugin_Com_Port;

// Takes everything a port has to read whenever it announces data: byte
// chunks from a stream port, one frame per read (with its identifier) from
// a port that uses frame identifiers.
class PortReader : public QObject
{
    Q_OBJECT
public:
    explicit PortReader(Plugin_Com_Port *port, QObject *parent = nullptr);

    // Reads what is waiting now. Called on every readyRead() of the port.
    void drain();

    qint64 bytesRead() const { return m_bytesRead; }

    static const int streamChunk = 64 * 1024;
    static const int frameBuffer = 64;

signals:
    void received(const QByteArray &data, quint32 frameId);

private:
    // One read; false when nothing more is waiting.
    bool readOnce();

    Plugin_Com_Port *m_port;
    bool m_frames;
    bool m_draining = false;
    bool m_continuationQueued = false;
    qint64 m_bytesRead = 0;
};
