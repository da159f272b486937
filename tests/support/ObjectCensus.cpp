#include "tests/support/ObjectCensus.h"

#include <QtCore/private/qhooks_p.h>

ObjectCensus *ObjectCensus::s_current = nullptr;

// Nothing else in a test sets these hooks: no chaining to earlier ones.
ObjectCensus::ObjectCensus()
{
    s_current = this;
    qtHookData[QHooks::AddQObject] = reinterpret_cast<quintptr>(+[](QObject *object) { note(object, true); });
    qtHookData[QHooks::RemoveQObject] = reinterpret_cast<quintptr>(+[](QObject *object) { note(object, false); });
}

ObjectCensus::~ObjectCensus()
{
    qtHookData[QHooks::AddQObject] = 0;
    qtHookData[QHooks::RemoveQObject] = 0;
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

void ObjectCensus::note(QObject *object, bool added)
{
    if (ObjectCensus *census = s_current) {
        QMutexLocker lock(&census->m_mutex);
        if (!added) {
            census->m_alive.remove(object);
        } else {
            census->m_alive.insert(object);
            ++census->m_created;
        }
    }
}
