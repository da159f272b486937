#include "tests/stress/LogCounter.h"

#include "host/Plugin_Com_Device.h"

LogCounter *LogCounter::s_current = nullptr;

LogCounter::LogCounter()
{
    s_current = this;
    Plugin_Com_Device::setLogInterface(this);
    m_previousHandler = qInstallMessageHandler(&LogCounter::messageHandler);
}

LogCounter::~LogCounter()
{
    qInstallMessageHandler(m_previousHandler);
    Plugin_Com_Device::setLogInterface(nullptr);
    s_current = nullptr;
}

void LogCounter::log(Type type, const QString &text)
{
    ++m_device[type];
    if (type == Error || type == Warning)
        note(text);
}

void LogCounter::note(const QString &text)
{
    if (m_problems.size() < 10 && !m_problems.contains(text))
        m_problems.append(text);
}

void LogCounter::messageHandler(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    if (!s_current)
        return;
    // The test's own figures still reach the test log.
    if (context.category && qstrcmp(context.category, "pcom.stress") == 0) {
        if (s_current->m_previousHandler)
            s_current->m_previousHandler(type, context, text);
        return;
    }
    ++s_current->m_qt[type];
    if (type != QtDebugMsg && type != QtInfoMsg)
        s_current->note(QStringLiteral("%1: %2").arg(QString::fromLatin1(context.category), text));
}
