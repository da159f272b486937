#pragma once

#include "hostlib/LogReceiver.h"

#include <QObject>
#include <QStringList>

// The bench's host log: it keeps the device log and Qt's message log off the
// terminal (a real host would show them in its own window, not time them on
// a console) and keeps the error lines, which a suite reports as notes.
// With --verbose every line also goes to standard error.
class BenchLog : public QObject
{
    Q_OBJECT
public:
    explicit BenchLog(bool verbose);

    // Error, critical and warning lines since the last call, and forgets them.
    QStringList takeErrors();
    // Progress and info lines since the last call, and forgets them.
    QStringList takeProgress();

private:
    void record(const QString &kind, const QString &text);

    LogReceiver m_receiver;
    QStringList m_errors;
    QStringList m_progress;
};
