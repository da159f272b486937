#include "gui/TerminationWatch.h"

#include <QSocketNotifier>

#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

int TerminationWatch::s_fds[2] = {-1, -1};

namespace {
const int watched[] = {SIGTERM, SIGINT, SIGHUP};
}

TerminationWatch::TerminationWatch(QObject *parent)
    : QObject(parent)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, s_fds) != 0)
        return;
    m_notifier = new QSocketNotifier(s_fds[1], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, [this] {
        unsigned char number = 0;
        if (::read(s_fds[1], &number, 1) == 1)
            emit terminationRequested(number);
    });
    struct sigaction action = {};
    action.sa_handler = &TerminationWatch::handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int number : watched)
        ::sigaction(number, &action, nullptr);
}

TerminationWatch::~TerminationWatch()
{
    for (int number : watched)
        ::signal(number, SIG_DFL);
    delete m_notifier;
    for (int &fd : s_fds) {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
}

// Async-signal-safe: one write.
void TerminationWatch::handler(int signalNumber)
{
    const unsigned char number = static_cast<unsigned char>(signalNumber);
    if (s_fds[0] >= 0 && ::write(s_fds[0], &number, 1) < 0)
        return;
}
