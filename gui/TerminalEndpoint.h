#pragma once

#include "hostlib/Endpoint.h"
#include "hostlib/Pacer.h"

#include <QFile>
#include <QTimer>

#include <functional>

class CanFrameTable;
class PortLog;
class StreamView;

// The desktop's terminal of one port as an end of a bridge: what the port
// reads is shown in the stream view (or, for a CAN port, in the frame
// table, with every frame's flags), and what the user sends leaves through
// one ordered writer: typed lines and frames, and the bytes of a file. A
// line is refused while a file is being sent, so that it never lands inside
// the file's bytes; a send can be cancelled. The file is read only while the
// bridge reads this end (not while the port's backlog is full), so memory
// stays bounded however large the file. What arrives also goes to the
// port's log file, if any; a CAN port's frames pass the hook that feeds
// the per-identifier view and the receive filter.
class TerminalEndpoint : public Endpoint
{
    Q_OBJECT
public:
    // `stream` for a byte-stream port, `frames` for a CAN port.
    TerminalEndpoint(StreamView *stream, CanFrameTable *frames, QObject *parent = nullptr);

    void setLog(PortLog *log) { m_log = log; }
    // Asked with their size before bytes are shown: a note to show before
    // them (whose bytes they are), or empty.
    void setNoteHook(std::function<QString(int)> hook) { m_noteHook = std::move(hook); }
    // Every frame shown or sent (sent true) passes it; false keeps it out of
    // the frame table.
    void setFrameHook(std::function<bool(const QCanBusFrame &, bool)> hook) { m_frameHook = std::move(hook); }

    // Sent bytes leave one at a time with charMs between them and lineMs
    // more after each line end (0, 0: at once).
    void setDelays(int charMs, int lineMs) { m_pacer.setDelays(charMs, lineMs); }
    // False, with the reason, while a file is being sent or the end is down.
    bool sendBytes(const QByteArray &data, QString *why);
    bool sendFrame(const QCanBusFrame &frame, QString *why);
    // False, with the reason, when the file cannot be read or another send runs.
    bool sendFile(const QString &fileName, QString *why);
    // Stops the file's send; what left stays sent. The message says how much.
    void cancelFile();
    bool isSendingFile() const { return m_file.isOpen(); }
    QString fileName() const { return m_file.fileName(); }
    qint64 fileSent() const { return m_fileSent; }
    qint64 fileSize() const { return m_fileSize; }

    // Bytes shown (payload bytes of frames) and bytes handed to the port.
    qint64 bytesShown() const { return m_shown; }
    qint64 bytesSent() const { return m_sent; }

    QString label() const override { return QStringLiteral("terminal"); }
    QString sourceText() const override { return QStringLiteral("the terminal"); }
    bool usesFrames() const override { return m_frames != nullptr; }
    void setSourceName(const QString &) override {}
    void start() override;
    void pauseReading() override { m_paused = true; }
    void resumeReading() override;
    void write(const char *data, int size) override;
    void writeFrame(const QCanBusFrame &frame, qint64 line = 0) override;
    // The views keep a bounded number of lines and say what they left out.
    bool isFull() const override { return false; }
    qint64 bytesDelivered() const override { return m_shown; }
    void finishWriting() override {}
    void close(int flushMs = -1) override;
    void abort() override { close(); }
    bool isClosing() const override { return m_down; }
    bool isDown() const override { return m_down; }
    bool endedInOrder() const override { return true; }

    // The most bytes of a file handed on per event-loop turn.
    static const qint64 fileBurst = 256 * 1024;
    // Under a UDP datagram's largest payload, so each read leaves as one.
    static const int fileChunk = 60 * 1024;

signals:
    void sent(qint64 bytes);
    void shown(qint64 bytes);
    void fileProgress(qint64 sent, qint64 total);
    // An empty message: the whole file was sent.
    void fileFinished(const QString &message);

private:
    void sendFileBurst();
    void endFile(const QString &message);
    void hand(const QByteArray &data);

    void show(const QCanBusFrame &frame, bool sent);

    StreamView *m_stream;
    CanFrameTable *m_frames;
    PortLog *m_log = nullptr;
    std::function<QString(int)> m_noteHook;
    std::function<bool(const QCanBusFrame &, bool)> m_frameHook;
    Pacer m_pacer;
    QFile m_file;
    QTimer m_nextBurst;
    qint64 m_fileSize = 0;
    qint64 m_fileSent = 0;
    qint64 m_shown = 0;
    qint64 m_sent = 0;
    bool m_paused = false;
    bool m_started = false;
    bool m_down = false;
};
