#include "cli/LogAttribution.h"

#include "hostlib/LogReceiver.h"

#include <QCoreApplication>
#include <QHash>
#include <QMutex>
#include <QMutexLocker>

#include <private/qhooks_p.h>

namespace {

using ObjectHook = void (*)(QObject *);

// Objects and the bridge each belongs to; the hooks run in every thread.
QMutex g_mutex;
QHash<QObject *, QString> g_owners;
ObjectHook g_previousAdd = nullptr;
ObjectHook g_previousRemove = nullptr;

QString ownerOf(QObject *object)
{
    QMutexLocker locker(&g_mutex);
    // A bounded walk: objects sit a few levels under what their port made.
    for (int depth = 0; object && depth < 16; ++depth, object = object->parent()) {
        const auto it = g_owners.constFind(object);
        if (it != g_owners.constEnd())
            return it.value();
    }
    return QString();
}

} // namespace

LogAttribution::LogAttribution()
{
    g_previousAdd = reinterpret_cast<ObjectHook>(qtHookData[QHooks::AddQObject]);
    g_previousRemove = reinterpret_cast<ObjectHook>(qtHookData[QHooks::RemoveQObject]);
    qtHookData[QHooks::AddQObject] = reinterpret_cast<quintptr>(&LogAttribution::added);
    qtHookData[QHooks::RemoveQObject] = reinterpret_cast<quintptr>(&LogAttribution::removed);
    QCoreApplication::instance()->installEventFilter(this);
}

LogAttribution::~LogAttribution()
{
    QCoreApplication::instance()->removeEventFilter(this);
    qtHookData[QHooks::AddQObject] = reinterpret_cast<quintptr>(g_previousAdd);
    qtHookData[QHooks::RemoveQObject] = reinterpret_cast<quintptr>(g_previousRemove);
    QMutexLocker locker(&g_mutex);
    g_owners.clear();
    LogReceiver::setTag(QString());
}

void LogAttribution::added(QObject *object)
{
    const QString tag = LogReceiver::tag();
    if (!tag.isEmpty()) {
        QMutexLocker locker(&g_mutex);
        g_owners.insert(object, tag);
    }
    if (g_previousAdd)
        g_previousAdd(object);
}

void LogAttribution::removed(QObject *object)
{
    {
        QMutexLocker locker(&g_mutex);
        g_owners.remove(object);
    }
    if (g_previousRemove)
        g_previousRemove(object);
}

bool LogAttribution::eventFilter(QObject *watched, QEvent *)
{
    // Each event decides anew: lines outside any bridge's work carry no tag.
    LogReceiver::setTag(ownerOf(watched));
    return false;
}

LogAttribution::Scope::Scope(const QString &name)
    : m_previous(LogReceiver::tag())
{
    LogReceiver::setTag(name);
}

LogAttribution::Scope::~Scope()
{
    LogReceiver::setTag(m_previous);
}
