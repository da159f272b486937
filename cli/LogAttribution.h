#pragma once

#include <QObject>
#include <QString>

// Tags the log lines of several bridges in one process with the name of the
// bridge at work. The plug-in's device log says which kind of port spoke
// ("tcpServer: New connection"), not which port; but it speaks while the
// port's objects handle an event or a call of ours. So: every object made
// while a bridge is at work (its ports, their sockets, timers and servers)
// belongs to that bridge; an event for an object, or for a child of one,
// that belongs to a bridge puts its name on the lines logged meanwhile
// (LogReceiver::setTag). Calls of ours into a bridge are wrapped in a Scope.
// One at a time, in the main thread.
class LogAttribution : public QObject
{
    Q_OBJECT
public:
    LogAttribution();
    ~LogAttribution() override;

    // The bridge `name` is at work until the scope ends.
    class Scope
    {
    public:
        explicit Scope(const QString &name);
        ~Scope();
        Scope(const Scope &) = delete;
        Scope &operator=(const Scope &) = delete;

    private:
        QString m_previous;
    };

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    static void added(QObject *object);
    static void removed(QObject *object);
};
