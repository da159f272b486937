#include "cli/Shutdown.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

int Shutdown::s_fds[2] = {-1, -1};

Shutdown::Shutdown(QObject *parent)
    : QObject(parent)
{
    std::signal(SIGPIPE, SIG_IGN);
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, s_fds) != 0)
        return;
    m_notifier = new QSocketNotifier(s_fds[1], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &Shutdown::onActivated);

    struct sigaction action = {};
    action.sa_handler = &Shutdown::handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

void Shutdown::watchHangup()
{
    if (!m_notifier)
        return;
    struct sigaction action = {};
    action.sa_handler = &Shutdown::handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGHUP, &action, nullptr);
    m_hangup = true;
}

Shutdown::~Shutdown()
{
    // pcom is ending with the status it chose: a stop asked for while its
    // ports and plug-in go changes nothing, and must not kill it instead.
    std::signal(SIGINT, SIG_IGN);
    std::signal(SIGTERM, SIG_IGN);
    if (m_hangup)
        std::signal(SIGHUP, SIG_IGN);
    delete m_notifier;
    m_notifier = nullptr;
    for (int &fd : s_fds) {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
}

void Shutdown::handler(int signalNumber)
{
    const int saved = errno;
    const char byte = char(signalNumber);
    if (s_fds[0] >= 0)
        (void)!::write(s_fds[0], &byte, 1);
    errno = saved;
}

void Shutdown::onActivated()
{
    char byte = 0;
    if (::read(s_fds[1], &byte, 1) != 1)
        return;
    if (byte == char(SIGHUP)) {
        emit reloadRequested();
        return;
    }
    if (++m_count == 1)
        emit stopRequested();
    else
        emit abortRequested();
}
