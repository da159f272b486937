#include "hostlib/LogReceiver.h"

#include <QTimer>

#include "host/Plugin_Com_Device.h"

#include <QElapsedTimer>
#include <QMutex>
#include <QMutexLocker>

#include <cstdio>
#include <cstring>

LogReceiver *LogReceiver::s_current = nullptr;

namespace {

QMutex g_printMutex;

// The last line printed and how often it came again since: a burst of one
// line is printed once, then once more with its count when the burst ends
// (another line, the receiver's end) or every second while it goes on.
QByteArray g_lastLine;
int g_repeats = 0;
QElapsedTimer g_repeatClock;

thread_local QString t_tag;
thread_local bool t_orderlyEnd = false;

void writeLine(const QByteArray &line)
{
    std::fwrite(line.constData(), 1, size_t(line.size()), stderr);
    std::fflush(stderr);
}

// With g_printMutex held.
void printRepeats()
{
    if (g_repeats > 0) {
        writeLine(g_lastLine.left(g_lastLine.size() - 1)
                  + QStringLiteral(" (repeated %1 times)\n").arg(g_repeats).toLocal8Bit());
    }
    g_repeats = 0;
    g_repeatClock.restart();
}

QString qtKind(QtMsgType type)
{
    switch (type) {
    case QtDebugMsg:
        return QStringLiteral("trace");
    case QtInfoMsg:
        return QStringLiteral("info");
    case QtWarningMsg:
        return QStringLiteral("warning");
    case QtCriticalMsg:
    case QtFatalMsg:
        return QStringLiteral("critical");
    }
    return QStringLiteral("info");
}

} // namespace

LogReceiver::LogReceiver(QObject *parent)
    : QObject(parent)
{
}

LogReceiver::~LogReceiver()
{
    uninstall();
}

void LogReceiver::install()
{
    if (m_installed)
        return;
    s_current = this;
    Plugin_Com_Device::setLogInterface(this);
    m_previousHandler = qInstallMessageHandler(&LogReceiver::messageHandler);
    m_installed = true;
}

void LogReceiver::uninstall()
{
    if (!m_installed)
        return;
    {
        QMutexLocker locker(&g_printMutex);
        printRepeats();
        g_lastLine.clear();
    }
    qInstallMessageHandler(m_previousHandler);
    Plugin_Com_Device::setLogInterface(nullptr);
    s_current = nullptr;
    m_installed = false;
}

void LogReceiver::log(Type type, const QString &text)
{
    take(KrLog_Interface::typeName(type), text, text);
}

void LogReceiver::post(const QString &kind, const QString &text)
{
    if (s_current)
        s_current->take(kind, text, text);
    else
        printLine(kind, text);
}

void LogReceiver::printLine(const QString &kind, const QString &text)
{
    const QByteArray line = (kind + QStringLiteral(": ") + text + QLatin1Char('\n')).toLocal8Bit();
    QMutexLocker locker(&g_printMutex);
    if (line == g_lastLine) {
        ++g_repeats;
        if (g_repeatClock.elapsed() >= 1000)
            printRepeats();
        return;
    }
    printRepeats();
    writeLine(line);
    g_lastLine = line;
}

void LogReceiver::messageHandler(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    const QString kind = qtKind(type);
    QString printed = text;
    if (context.category && std::strcmp(context.category, "default") != 0)
        printed = QStringLiteral("[%1] %2").arg(QString::fromLatin1(context.category), text);
    if (s_current)
        s_current->take(kind, text, printed, s_current->m_qtInternals || !isQtInternal(context.category, text));
    else
        printLine(kind, printed);
}

// Qt logs these under its own categories, but for a few warnings of
// QPlatformWindow's defaults that every platform without the feature
// (offscreen, minimal) prints in the default category.
bool LogReceiver::isQtInternal(const char *category, const QString &text)
{
    if (category && std::strncmp(category, "qt.", 3) == 0)
        return true;
    return text.startsWith(QLatin1String("This plugin does not support "));
}

void LogReceiver::setTag(const QString &tag)
{
    t_tag = tag;
}

QString LogReceiver::tag()
{
    return t_tag;
}

void LogReceiver::noteOrderlyEnd()
{
    if (t_orderlyEnd)
        return;
    t_orderlyEnd = true;
    QTimer::singleShot(0, []() { t_orderlyEnd = false; });
}

void LogReceiver::take(const QString &kind, const QString &text, const QString &printed, bool announced)
{
    const bool hidden = m_quiet && (kind == QLatin1String("trace") || kind == QLatin1String("progress"));
    const bool failure = kind == QLatin1String("error") || kind == QLatin1String("critical");
    const QString shown = t_orderlyEnd && failure ? QStringLiteral("info") : kind;
    if (m_echo && !hidden)
        printLine(shown, t_tag.isEmpty() ? printed : QStringLiteral("[%1] %2").arg(t_tag, printed));
    if (announced)
        emit lineLogged(shown, text);
}
