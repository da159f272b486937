#include "cli/LogPrinter.h"

#include "host/Plugin_Com_Device.h"

#include <QCoreApplication>
#include <QMutex>
#include <QMutexLocker>
#include <QThread>

#include <cstdio>
#include <cstring>

LogPrinter *LogPrinter::s_current = nullptr;

namespace {

QMutex g_printMutex;

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

LogPrinter::LogPrinter(QObject *parent)
    : QObject(parent)
{
}

LogPrinter::~LogPrinter()
{
    uninstall();
}

void LogPrinter::install()
{
    if (m_installed)
        return;
    s_current = this;
    Plugin_Com_Device::setLogInterface(this);
    m_previousHandler = qInstallMessageHandler(&LogPrinter::messageHandler);
    m_installed = true;
}

void LogPrinter::uninstall()
{
    if (!m_installed)
        return;
    qInstallMessageHandler(m_previousHandler);
    Plugin_Com_Device::setLogInterface(nullptr);
    s_current = nullptr;
    m_installed = false;
}

void LogPrinter::log(Type type, const QString &text)
{
    take(KrLog_Interface::typeName(type), text, text);
}

void LogPrinter::print(const QString &kind, const QString &text)
{
    const QByteArray line = (kind + QStringLiteral(": ") + text + QLatin1Char('\n')).toLocal8Bit();
    QMutexLocker locker(&g_printMutex);
    std::fwrite(line.constData(), 1, size_t(line.size()), stderr);
    std::fflush(stderr);
}

void LogPrinter::messageHandler(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    const QString kind = qtKind(type);
    QString printed = text;
    if (context.category && std::strcmp(context.category, "default") != 0)
        printed = QStringLiteral("[%1] %2").arg(QString::fromLatin1(context.category), text);
    if (s_current)
        s_current->take(kind, text, printed);
    else
        print(kind, printed);
}

void LogPrinter::take(const QString &kind, const QString &text, const QString &printed)
{
    const bool hidden = m_quiet && (kind == QLatin1String("trace") || kind == QLatin1String("progress"));
    if (!hidden)
        print(kind, printed);
    if (QThread::currentThread() == thread())
        emit lineLogged(kind, text);
}
