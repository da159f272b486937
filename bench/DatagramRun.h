#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>
#include <QVector>

class BenchEndpoint;
class QEventLoop;

// Sends numbered datagrams from one endpoint to the other, at most `window`
// beyond the highest number received, so that a loss means the path dropped
// a datagram and not that the sender overran the receive buffer. When
// nothing arrives for a while the datagrams in flight count as lost and the
// sender goes on.
class DatagramRun : public QObject
{
    Q_OBJECT
public:
    struct Result
    {
        bool ok = false;
        double seconds = 0;
        qint64 received = 0;
        qint64 lost = 0;
        // The lost sequence numbers as ranges, "12-15, 300".
        QString lostRanges;
        QString error;
    };

    DatagramRun(BenchEndpoint *from, BenchEndpoint *to, int datagramSize, int window);

    Result run(int total, int timeoutMs);

private:
    void refill();
    void drain();
    void onStall();
    void finish();
    QString describeLost() const;

    BenchEndpoint *m_from;
    BenchEndpoint *m_to;
    QByteArray m_datagram;
    QByteArray m_buffer;
    int m_window;
    int m_total = 0;
    qint64 m_sent = 0;
    qint64 m_received = 0;
    qint64 m_highest = -1;
    // Everything below this number has arrived or been given up.
    qint64 m_base = 0;
    QVector<bool> m_arrived;
    QEventLoop *m_loop = nullptr;
    QTimer m_stall;
    QElapsedTimer m_timer;
    qint64 m_lastArrivalNs = 0;
};
