#include "cli/Terminal.h"

#include "hostlib/LogReceiver.h"

#include <csignal>
#include <cstdlib>
#include <termios.h>
#include <unistd.h>

namespace {

// What restore() puts back; read from a signal handler, so plain data.
struct termios g_saved;
volatile sig_atomic_t g_raw = 0;
const int g_fatalSignals[] = {SIGHUP, SIGQUIT, SIGABRT, SIGSEGV, SIGBUS, SIGFPE, SIGILL};

} // namespace

bool Terminal::isInteractive()
{
    return ::isatty(0) == 1;
}

Terminal::Terminal(QObject *parent)
    : QObject(parent)
{
    if (::tcgetattr(0, &g_saved) != 0)
        return;
    struct termios raw = g_saved;
    raw.c_iflag &= ~tcflag_t(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF);
    raw.c_lflag &= ~tcflag_t(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    static bool atExitSet = false;
    if (!atExitSet)
        atExitSet = std::atexit(&Terminal::restore) == 0;
    for (int signalNumber : g_fatalSignals) {
        struct sigaction action = {};
        action.sa_handler = &Terminal::onFatalSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESETHAND;
        sigaction(signalNumber, &action, nullptr);
    }
    g_raw = 1;
    ::tcsetattr(0, TCSAFLUSH, &raw);
}

Terminal::~Terminal()
{
    restore();
    for (int signalNumber : g_fatalSignals)
        std::signal(signalNumber, SIG_DFL);
}

void Terminal::restore()
{
    if (!g_raw)
        return;
    g_raw = 0;
    ::tcsetattr(0, TCSAFLUSH, &g_saved);
}

void Terminal::onFatalSignal(int signalNumber)
{
    restore();
    ::raise(signalNumber);
}

QByteArray Terminal::helpText() const
{
    const QByteArray key = "Ctrl-" + QByteArray(1, char(m_escapeKey + 'A' - 1));
    return "pcom: " + key + " then: q quit, b send a break (serial lines), h hex display on/off, e local echo on/off,\n"
           "      d, r switch DTR, RTS; D, R pulse DTR, RTS; m modem lines; l line settings; s statistics,\n"
           "      ? this list, " + key + " one " + key + " to the peer\n";
}

QByteArray Terminal::take(const QByteArray &typed)
{
    QByteArray out;
    const auto keep = [this, &out](char c) {
        if (!m_lineMode) {
            out += c;
        } else if (c == '\x7f' || c == '\b') {
            m_line.chop(1);
        } else {
            m_line += c;
            if (c == '\r' || c == '\n') {
                out += m_line;
                m_line.clear();
            }
        }
    };
    for (char c : typed) {
        if (!m_escaped && c == m_escapeKey) {
            m_escaped = true;
            continue;
        }
        if (!m_escaped) {
            keep(c);
            continue;
        }
        m_escaped = false;
        if (c == m_escapeKey) {
            keep(c);
            continue;
        }
        switch (c) {
        case 'q':
        case 'Q':
            emit quitRequested();
            return out;
        case 'b':
        case 'B':
            emit breakRequested();
            break;
        case 'h':
        case 'H':
            emit hexToggled();
            break;
        case 'e':
        case 'E':
            emit echoToggled();
            break;
        case 'd':
        case 'r':
        case 'D':
        case 'R':
        case 'm':
        case 'l':
        case 's':
            emit lineCommand(c);
            break;
        default:
            LogReceiver::post(QStringLiteral("info"), QString::fromLatin1(helpText()).trimmed());
            break;
        }
    }
    return out;
}
