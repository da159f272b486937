#include "tests/support/PseudoTerminal.h"

#include "tests/support/EventWait.h"

#include <cerrno>
#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

PseudoTerminal::PseudoTerminal()
{
    char name[256] = {};
    // The slave stays open here so that the master never sees a hang-up
    // between the port's open and close.
    if (openpty(&m_master, &m_slave, name, nullptr, nullptr) != 0)
        return;
    termios tio;
    if (tcgetattr(m_slave, &tio) == 0) {
        cfmakeraw(&tio);
        tcsetattr(m_slave, TCSANOW, &tio);
    }
    fcntl(m_master, F_SETFL, fcntl(m_master, F_GETFL) | O_NONBLOCK);
    // A pcom started later must not hold the line open: closing it here is
    // how a test unplugs the device.
    fcntl(m_master, F_SETFD, FD_CLOEXEC);
    fcntl(m_slave, F_SETFD, FD_CLOEXEC);
    m_slavePath = QString::fromLocal8Bit(name);
}

PseudoTerminal::~PseudoTerminal()
{
    // -1 when openpty() failed: close() refuses it harmlessly.
    ::close(m_slave);
    ::close(m_master);
}

bool PseudoTerminal::writeMaster(const QByteArray &data)
{
    qint64 done = 0;
    // The other side reads from an event loop, this process's or pcom's;
    // a full line waits for it.
    EventWait::until([&] {
        const ssize_t n = ::write(m_master, data.constData() + done, size_t(data.size() - done));
        done += qMax<ssize_t>(n, 0);
        return (n < 0 && errno != EAGAIN && errno != EINTR) || done == data.size();
    }, 10000);
    return done == data.size();
}

QByteArray PseudoTerminal::readMaster(int count, int timeoutMs)
{
    QByteArray out;
    char buf[4096];
    EventWait::until([&] {
        const ssize_t n = ::read(m_master, buf, sizeof buf);
        out.append(buf, int(qMax<ssize_t>(n, 0)));
        return out.size() >= count;
    }, timeoutMs);
    return out;
}
