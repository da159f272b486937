#pragma once

#include "host/KrLog_Interface.h"

#include <QObject>
#include <QString>

// Prints the host's device log and Qt's message log on standard error, one
// line each, prefixed with its kind: error, warning, progress, info, trace
// (device log) or trace, info, warning, critical (Qt's log). Quiet mode
// leaves out trace and progress. Every line, printed or not, is also
// announced, so that the link's state can be judged from it.
class LogPrinter : public QObject, public KrLog_Interface
{
    Q_OBJECT
public:
    explicit LogPrinter(QObject *parent = nullptr);
    ~LogPrinter() override;

    // Becomes the device-log receiver and Qt's message handler.
    void install();
    void uninstall();
    void setQuiet(bool quiet) { m_quiet = quiet; }

    void log(Type type, const QString &text) override;

    // pcom's own lines, in the same form.
    static void print(const QString &kind, const QString &text);

signals:
    // Emitted on the main thread only; lines from other threads are printed.
    void lineLogged(const QString &kind, const QString &text);

private:
    static void messageHandler(QtMsgType type, const QMessageLogContext &context, const QString &text);
    void take(const QString &kind, const QString &text, const QString &printed);

    static LogPrinter *s_current;
    bool m_quiet = false;
    bool m_installed = false;
    QtMessageHandler m_previousHandler = nullptr;
};
