#include "gui/TerminalEndpoint.h"

#include "gui/CanFrameTable.h"
#include "gui/PortLog.h"
#include "gui/StreamView.h"

TerminalEndpoint::TerminalEndpoint(StreamView *stream, CanFrameTable *frames, QObject *parent)
    : Endpoint(parent), m_stream(stream), m_frames(frames)
{
    m_nextBurst.setSingleShot(true);
    m_nextBurst.setInterval(0);
    connect(&m_nextBurst, &QTimer::timeout, this, &TerminalEndpoint::sendFileBurst);
    connect(&m_pacer, &Pacer::piece, this, &TerminalEndpoint::hand);
}

void TerminalEndpoint::start()
{
    m_started = true;
}

bool TerminalEndpoint::sendBytes(const QByteArray &data, QString *why)
{
    if (m_down || isSendingFile()) {
        *why = m_down ? tr("The port is not open.") : tr("A file is being sent: wait for it or cancel it.");
        return false;
    }
    if (m_pacer.isPaced())
        m_pacer.add(data);
    else
        hand(data);
    return true;
}

void TerminalEndpoint::hand(const QByteArray &data)
{
    m_sent += data.size();
    emit received(data.constData(), data.size());
    emit sent(data.size());
}

bool TerminalEndpoint::sendFrame(const QCanBusFrame &frame, QString *why)
{
    if (m_down) {
        *why = tr("The port is not open.");
        return false;
    }
    m_sent += frame.payload().size();
    emit frameReceived(frame);
    show(frame, true);
    emit sent(frame.payload().size());
    return true;
}

bool TerminalEndpoint::sendFile(const QString &fileName, QString *why)
{
    if (m_down || isSendingFile() || m_pacer.isBusy()) {
        *why = m_down ? tr("The port is not open.")
               : isSendingFile() ? tr("A file is being sent already.")
                                 : tr("Sent bytes are still leaving at their pace: wait for them.");
        return false;
    }
    m_file.setFileName(fileName);
    if (!m_file.open(QIODevice::ReadOnly)) {
        *why = tr("cannot read %1: %2").arg(fileName, m_file.errorString());
        return false;
    }
    m_fileSize = m_file.size();
    m_fileSent = 0;
    m_nextBurst.start();
    return true;
}

void TerminalEndpoint::cancelFile()
{
    if (isSendingFile())
        endFile(tr("Sending %1 cancelled after %2 of %3 bytes.").arg(m_file.fileName()).arg(m_fileSent).arg(m_fileSize));
}

void TerminalEndpoint::resumeReading()
{
    m_paused = false;
    if (isSendingFile())
        m_nextBurst.start();
}

// Stops as soon as the bridge pauses this end (the port's backlog is full);
// it resumes this end when the backlog is low again.
void TerminalEndpoint::sendFileBurst()
{
    qint64 burst = 0;
    QByteArray chunk(fileChunk, Qt::Uninitialized);
    while (isSendingFile() && !m_paused && !m_down && burst < fileBurst) {
        const qint64 n = m_file.read(chunk.data(), chunk.size());
        if (n <= 0) {
            // What this burst handed on is counted before the end is told.
            if (burst > 0)
                emit sent(burst);
            endFile(n < 0 ? tr("Sending stopped after %1 of %2 bytes: %3").arg(m_fileSent).arg(m_fileSize).arg(m_file.errorString())
                          : QString());
            return;
        }
        burst += n;
        m_fileSent += n;
        m_sent += n;
        emit received(chunk.constData(), int(n));
    }
    if (burst > 0) {
        emit sent(burst);
        emit fileProgress(m_fileSent, m_fileSize);
    }
    if (isSendingFile() && !m_paused && !m_down)
        m_nextBurst.start();
}

void TerminalEndpoint::endFile(const QString &message)
{
    m_nextBurst.stop();
    m_file.close();
    emit fileFinished(message);
}

void TerminalEndpoint::write(const char *data, int size)
{
    m_shown += size;
    const QByteArray bytes(data, size);
    if (m_log)
        m_log->writeBytes(bytes);
    if (m_noteHook) {
        const QString note = m_noteHook(size);
        if (!note.isEmpty())
            m_stream->appendNote(note);
    }
    m_stream->append(bytes);
    emit shown(size);
}

void TerminalEndpoint::writeFrame(const QCanBusFrame &frame, qint64)
{
    m_shown += frame.payload().size();
    show(frame, false);
    emit shown(frame.payload().size());
}

void TerminalEndpoint::close(int)
{
    if (m_down)
        return;
    if (isSendingFile())
        endFile(tr("Sending %1 stopped after %2 of %3 bytes: the port closed.")
                    .arg(m_file.fileName()).arg(m_fileSent).arg(m_fileSize));
    m_down = true;
    m_pacer.clear();
    emit down();
}

void TerminalEndpoint::show(const QCanBusFrame &frame, bool sent)
{
    if (m_log)
        m_log->writeFrame(frame);
    if (!m_frameHook || m_frameHook(frame, sent))
        m_frames->append(frame, sent);
}
