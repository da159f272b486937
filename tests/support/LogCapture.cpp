#include "tests/support/LogCapture.h"

#include "host/Plugin_Com_Device.h"

LogCapture *LogCapture::s_current = nullptr;

LogCapture::LogCapture(Keep keep)
    : m_keep(keep)
{
    s_current = this;
    Plugin_Com_Device::setLogInterface(this);
    m_previousHandler = qInstallMessageHandler(&LogCapture::messageHandler);
}

LogCapture::~LogCapture()
{
    qInstallMessageHandler(m_previousHandler);
    Plugin_Com_Device::setLogInterface(nullptr);
    s_current = nullptr;
}

void LogCapture::log(Type type, const QString &text)
{
    record(QStringLiteral("device"), int(type), text, type == Error || type == Warning);
}

void LogCapture::record(const QString &channel, int type, const QString &text, bool problem)
{
    if (problem && m_problems.size() < 10 && !m_problems.contains(text))
        m_problems.append(text);
    if (m_keep == Lines)
        m_lines.append({channel, type, text});
}

void LogCapture::messageHandler(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    if (s_current) {
        s_current->record(QStringLiteral("qt"), int(type), text, type != QtDebugMsg && type != QtInfoMsg);
        // QTest's own messages still reach the test log.
        if (context.category && qstrcmp(context.category, "default") != 0 && s_current->m_previousHandler)
            s_current->m_previousHandler(type, context, text);
    }
}

QStringList LogCapture::textsOf(const char *channel, int type) const
{
    QStringList out;
    for (const Line &line : m_lines) {
        if ((!channel || line.channel == QLatin1String(channel)) && (type < 0 || line.type == type))
            out.append(line.text);
    }
    return out;
}
