#include "tests/support/ObjectCensus.h"

#include <QtCore/private/qhooks_p.h>

ObjectCensus *ObjectCensus::s_current = nullptr;

ObjectCensus::ObjectCensus()
    : m_previousAdd(qtHookData[QHooks::AddQObject]),
      m_previousRemove(qtHookData[QHooks::RemoveQObject])
{
    s_current = this;
    qtHookData[QHooks::AddQObject] = reinterpret_cast<quintptr>(&ObjectCensus::added);
    qtHookData[QHooks::RemoveQObject] = reinterpret_cast<quintptr>(&ObjectCensus::removed);
}

ObjectCensus::~ObjectCensus()
{
    qtHookData[QHooks::AddQObject] = m_previousAdd;
    qtHookData[QHooks::RemoveQObject] = m_previousRemove;
    s_current = nullptr;
}

int ObjectCensus::created() const
{
    QMutexLocker lock(&m_mutex);
    return m_created;
}

int ObjectCensus::alive() const
{
    QMutexLocker lock(&m_mutex);
    return m_alive.size();
}

// Nothing else in a test sets these hooks: no chaining to earlier ones.
void ObjectCensus::added(QObject *object)
{
    if (ObjectCensus *census = s_current) {
        QMutexLocker lock(&census->m_mutex);
        census->m_alive.insert(object);
        ++census->m_created;
    }
}

void ObjectCensus::removed(QObject *object)
{
    if (ObjectCensus *census = s_current) {
        QMutexLocker lock(&census->m_mutex);
        census->m_alive.remove(object);
    }
}
