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

    Q_DISABLE_COPY(ObjectCensus)

    int created() const;
    int alive() const;

private:
    // Qt's hooks, called for each object made or destroyed.
    static void note(QObject *object, bool added);

    mutable QMutex m_mutex;
    QSet<QObject *> m_alive;
    int m_created = 0;
    static ObjectCensus *s_current;
};
