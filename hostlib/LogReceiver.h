#pragma once

#include "host/KrLog_Interface.h"

#include <QObject>
#include <QString>

// The host's log: it receives the plug-in's device log and Qt's message log
// and the host's own lines, and announces each as (kind, text). Kinds:
// error, warning, progress, info, trace (device log), trace, info, warning,
// critical (Qt's log), or whatever kind the host gives its own lines. It may
// also echo every line on standard error as "kind: text", quiet leaving out
// trace and progress; a burst of identical lines is echoed once, followed by
// the line with " (repeated N times)" when it ends (at the latest every
// second and when the receiver is uninstalled).
//
// One receiver is installed at a time (the device log has one receiver per
// process). lineLogged() is emitted in the thread that logged; connections
// to objects of another thread are queued as usual.
class LogReceiver : public QObject, public KrLog_Interface
{
    Q_OBJECT
public:
    explicit LogReceiver(QObject *parent = nullptr);
    ~LogReceiver() override;

    // Becomes the device-log receiver and Qt's message handler.
    void install();
    void uninstall();

    void setEcho(bool echo) { m_echo = echo; }
    void setQuiet(bool quiet) { m_quiet = quiet; }
    // Whether Qt's messages about its own platform and internals (the qt.*
    // categories, and the platform plug-ins' few default-category warnings)
    // are announced by lineLogged(); they say nothing about the links. They
    // are echoed all the same.
    void setQtInternalsAnnounced(bool announced) { m_qtInternals = announced; }

    void log(Type type, const QString &text) override;

    // A line of the host's own: to the installed receiver, or straight to
    // standard error when none is installed.
    static void post(const QString &kind, const QString &text);

    // A tag that leads the printed lines of this thread ("kind: [tag] text")
    // while it is set: whose work they report, where one process does the
    // work of several (pcom serve's bridges).
    static void setTag(const QString &tag);
    static QString tag();

    // An orderly end of a link is being handled (its companion told so):
    // until control is back in the event loop, the error and critical lines
    // that the plug-in logs about it are printed as info, since nothing
    // failed. Their kind stays as it is for lineLogged().
    static void noteOrderlyEnd();

signals:
    void lineLogged(const QString &kind, const QString &text);

private:
    static void messageHandler(QtMsgType type, const QMessageLogContext &context, const QString &text);
    static void printLine(const QString &kind, const QString &text);
    static bool isQtInternal(const char *category, const QString &text);
    void take(const QString &kind, const QString &text, const QString &printed, bool announced = true);

    static LogReceiver *s_current;
    bool m_echo = true;
    bool m_quiet = false;
    bool m_qtInternals = true;
    bool m_installed = false;
    QtMessageHandler m_previousHandler = nullptr;
};
