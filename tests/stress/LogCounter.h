#pragma once

#include "host/KrLog_Interface.h"

#include <QMap>
#include <QString>
#include <QStringList>

// Counts the lines of the host's device log and of Qt's message log while it
// lives, without keeping them: for runs of thousands of cycles, where a
// kept log would itself look like a leak. It remembers the first few error
// and warning texts, to show what went wrong. One at a time.
class LogCounter : public KrLog_Interface
{
public:
    LogCounter();
    ~LogCounter() override;

    void log(Type type, const QString &text) override;

    // Device-log lines of one type.
    int deviceCount(Type type) const { return m_device.value(type); }
    // Qt messages of one level (QtMsgType).
    int qtCount(QtMsgType level) const { return m_qt.value(level); }
    QStringList firstProblems() const { return m_problems; }

private:
    static void messageHandler(QtMsgType type, const QMessageLogContext &context, const QString &text);
    void note(const QString &text);

    QMap<int, int> m_device;
    QMap<int, int> m_qt;
    QStringList m_problems;
    QtMessageHandler m_previousHandler;
    static LogCounter *s_current;
};
