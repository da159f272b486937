#pragma once

#include <QByteArray>
#include <QObject>
#include <QTimer>

// Bytes handed on at a pace that a slow device keeps up with, as terminals
// do: one byte at a time with a pause after each (charMs), and a further
// pause after each line end (lineMs; CR LF is one line end, after its LF).
// With only a line pause, a whole line goes at once. What waits is held
// here, so a feeder stops while isBusy().
class Pacer : public QObject
{
    Q_OBJECT
public:
    explicit Pacer(QObject *parent = nullptr);

    void setDelays(int charMs, int lineMs);
    // Whether there are delays at all; without them add() is not needed.
    bool isPaced() const { return m_charMs > 0 || m_lineMs > 0; }
    // Bytes wait, or the pause after the last piece still runs.
    bool isBusy() const { return m_timer.isActive(); }
    qint64 bytesWaiting() const { return m_waiting.size(); }
    void add(const QByteArray &data);
    void clear();

signals:
    void piece(const QByteArray &bytes);
    // The pause after the last piece has passed.
    void drained();

private:
    void next();

    QByteArray m_waiting;
    QTimer m_timer;
    int m_charMs = 0;
    int m_lineMs = 0;
};
