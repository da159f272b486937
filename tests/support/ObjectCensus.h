#pragma once

#include <QMutex>
#include <QSet>

class QObject;

// Counts the QObjects created while it lives and not destroyed since, through
// Qt's object hooks. One at a time.
class ObjectCensus
{
public:
    ObjectCensus();
    ~ObjectCensus();

    ObjectCensus(const ObjectCensus &) = delete;
    ObjectCensus &operator=(const ObjectCensus &) = delete;

    int created() const;
    int alive() const;

private:
    static void added(QObject *object);
    static void removed(QObject *object);

    mutable QMutex m_mutex;
    QSet<QObject *> m_alive;
    int m_created = 0;
    quintptr m_previousAdd;
    quintptr m_previousRemove;
    static ObjectCensus *s_current;
};
