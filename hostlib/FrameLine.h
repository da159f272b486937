#pragma once

#include "hostlib/Endpoint.h"
#include "hostlib/FrameSession.h"

#include <QTimer>

#include <memory>

// The CAN end of a bridge on a byte line of ours (a serial port's PortLink)
// that speaks a text protocol (SLCAN) to the one client at its far end:
// the line's bytes go through the session, whose frames come out of this
// end and whose replies go back down the line; bus frames go down the line
// as the session writes them. The line is a child of this end and does the
// work of every way down; the back-pressure is the line's own.
class FrameLine : public Endpoint
{
    Q_OBJECT
public:
    // Takes `line` as a child.
    FrameLine(const QString &label, Endpoint *line, std::unique_ptr<FrameSession> session, QObject *parent = nullptr);
    ~FrameLine() override;

    QString label() const override { return m_label; }
    bool usesFrames() const override { return true; }
    void setSourceName(const QString &name) override { m_line->setSourceName(name); }
    void start() override;
    void pauseReading() override { m_line->pauseReading(); }
    void resumeReading() override { m_line->resumeReading(); }
    // Bytes have no meaning here: the other end of the bridge is a CAN port.
    void write(const char *, int size) override { m_dropped += size; }
    void writeFrame(const QCanBusFrame &frame, qint64 line = 0) override;
    bool isFull() const override { return m_line->isFull(); }
    qint64 bytesDelivered() const override { return m_line->bytesDelivered(); }
    qint64 bytesDropped() const override { return m_line->bytesDropped() + m_dropped; }
    void finishWriting() override { m_line->finishWriting(); }
    void close(int flushMs = -1) override { m_line->close(flushMs); }
    void abort() override { m_line->abort(); }
    bool isClosing() const override { return m_line->isClosing(); }
    bool isDown() const override { return m_line->isDown(); }
    bool endedInOrder() const override { return m_line->endedInOrder(); }

private:
    void onReceived(const char *data, int size);
    void send(const QByteArray &bytes);

    QString m_label;
    Endpoint *m_line;
    std::unique_ptr<FrameSession> m_session;
    FrameSession::Counters m_counters;
    QTimer m_timer;
    qint64 m_dropped = 0;
};
