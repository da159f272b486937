#include "cli/StdinReader.h"

#include "hostlib/LogReceiver.h"

#include <QByteArray>
#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

StdinReader::StdinReader(int fd, QObject *parent)
    : QObject(parent), m_fd(fd)
{
}

StdinReader::~StdinReader() = default;

void StdinReader::start()
{
    if (m_notifier || m_atEnd)
        return;
    if (::fcntl(m_fd, F_GETFD) < 0) {
        // No standard input at all: it has ended before it began.
        QTimer::singleShot(0, this, &StdinReader::end);
        return;
    }
    m_notifier = new QSocketNotifier(m_fd, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &StdinReader::onActivated);
    m_notifier->setEnabled(!m_paused);
}

qint64 StdinReader::bytesWaiting() const
{
    int count = 0;
    if (m_atEnd || ::ioctl(m_fd, FIONREAD, &count) != 0)
        return 0;
    return count;
}

void StdinReader::pause()
{
    m_paused = true;
    if (m_notifier)
        m_notifier->setEnabled(false);
}

void StdinReader::resume()
{
    m_paused = false;
    if (m_notifier && !m_atEnd)
        m_notifier->setEnabled(true);
}

void StdinReader::onActivated()
{
    if (m_atEnd || m_paused)
        return;
    QByteArray buffer(m_chunkSize, Qt::Uninitialized);
    const ssize_t n = ::read(m_fd, buffer.data(), size_t(buffer.size()));
    if (n > 0) {
        buffer.resize(int(n));
        m_bytesRead += n;
        emit dataRead(buffer);
        return;
    }
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
        return;
    if (n < 0)
        LogReceiver::post(
            QStringLiteral("error"),
            QStringLiteral("reading standard input: %1").arg(QString::fromLocal8Bit(std::strerror(errno))));
    end();
}

void StdinReader::end()
{
    if (m_atEnd)
        return;
    m_atEnd = true;
    if (m_notifier) {
        m_notifier->setEnabled(false);
        m_notifier->deleteLater();
        m_notifier = nullptr;
    }
    emit finished();
}
