#include "gui/FileSender.h"

#include "core/PCom_LinkStatus.h"
#include "host/Plugin_Com_Port.h"

namespace {
const qint64 burst = 256 * 1024;
const qint64 backlogLimit = 1024 * 1024;
}

FileSender::FileSender(Plugin_Com_Port *port, QObject *parent)
    : QObject(parent), m_port(port), m_status(qobject_cast<PCom_LinkStatus *>(port)),
      // Every UDP write is a datagram of its own.
      m_chunk(port->typeKey() == QLatin1String("udpClient") ? 1024 : 64 * 1024)
{
    // Without the signal the backlog is never waited for.
    if (m_status && !connect(port, SIGNAL(bytesWritten(qint64)), this, SLOT(step())))
        m_status = nullptr;
}

bool FileSender::start(const QString &fileName, QString *error)
{
    m_file.setFileName(fileName);
    if (!m_file.open(QIODevice::ReadOnly)) {
        *error = tr("cannot read %1: %2").arg(fileName, m_file.errorString());
        return false;
    }
    m_total = m_file.size();
    m_queued = true;
    QMetaObject::invokeMethod(this, &FileSender::step, Qt::QueuedConnection);
    return true;
}

void FileSender::step()
{
    if (sender() != m_port)
        m_queued = false;
    if (m_done || m_queued)
        return;
    qint64 wrote = 0;
    while (wrote < burst && !m_file.atEnd()) {
        if (m_status && m_status->bytesToWrite() > backlogLimit)
            break;
        const QByteArray chunk = m_file.read(m_chunk);
        const int n = m_port->writeRawData(chunk.constData(), chunk.size());
        if (chunk.isEmpty() || n <= 0) {
            finish(tr("sending stopped after %1 of %2 bytes: %3")
                       .arg(m_sent).arg(m_total)
                       .arg(chunk.isEmpty() ? m_file.errorString() : tr("the port took no data")));
            return;
        }
        wrote += n;
        m_sent += chunk.size();
    }
    emit written(wrote);
    emit progress(m_sent, m_total);
    if (m_file.atEnd()) {
        finish(QString());
        return;
    }
    // A full backlog resumes on bytesWritten; otherwise go on next turn.
    if (!(m_status && m_status->bytesToWrite() > backlogLimit)) {
        m_queued = true;
        QMetaObject::invokeMethod(this, &FileSender::step, Qt::QueuedConnection);
    }
}

void FileSender::finish(const QString &error)
{
    m_done = true;
    m_file.close();
    emit finished(error);
}
