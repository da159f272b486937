#pragma once

#include <QObject>

class QSocketNotifier;

// Reads standard input from the event loop: one read() per readiness
// notification, so the descriptor's blocking mode stays as the caller left
// it. Reading can be paused while the bytes already read wait for the port.
class StdinReader : public QObject
{
    Q_OBJECT
public:
    explicit StdinReader(int fd = 0, QObject *parent = nullptr);
    ~StdinReader() override;

    void start();
    void pause();
    void resume();
    bool atEnd() const { return m_atEnd; }
    qint64 bytesRead() const { return m_bytesRead; }
    // Bytes that a read would get now without waiting (0 at the end, or
    // where the input cannot tell).
    qint64 bytesWaiting() const;
    // The most bytes one read takes.
    void setChunkSize(int bytes) { m_chunkSize = bytes; }

    static const int defaultChunkSize = 64 * 1024;

signals:
    void dataRead(const QByteArray &data);
    // End of input (or a read error): no more dataRead().
    void finished();

private:
    void onActivated();
    void end();

    int m_fd;
    int m_chunkSize = defaultChunkSize;
    QSocketNotifier *m_notifier = nullptr;
    bool m_paused = false;
    bool m_atEnd = false;
    qint64 m_bytesRead = 0;
};
