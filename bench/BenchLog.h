#pragma once

#include "host/KrLog_Interface.h"

#include <QStringList>
#include <QtGlobal>

// The bench's host log: it keeps the device log and Qt's message log off the
// terminal (a real host would show them in its own window, not time them on
// a console) and keeps the error lines, which a suite reports as notes.
// With --verbose every line also goes to standard error.
class BenchLog : public KrLog_Interface
{
public:
    explicit BenchLog(bool verbose);
    ~BenchLog() override;

    void log(Type type, const QString &text) override;

    // Error and critical lines since the last call, and forgets them.
    QStringList takeErrors();
    // Progress and info lines since the last call, and forgets them.
    QStringList takeProgress();

private:
    static void messageHandler(QtMsgType type, const QMessageLogContext &context, const QString &text);
    void record(bool error, bool progress, const QString &prefix, const QString &text);

    bool m_verbose;
    QStringList m_errors;
    QStringList m_progress;
    QtMessageHandler m_previousHandler;
    static BenchLog *s_current;
};
