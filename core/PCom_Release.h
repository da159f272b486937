#pragma once

#include <QObject>

// Releases a Qt object that may be in the middle of emitting one of its own
// signals: no further signal of it reaches anyone, the event loop deletes it
// later, and the caller's pointer no longer refers to it.
template <class T>
void pcomRelease(T *&object)
{
    if (!object)
        return;
    QObject::disconnect(object, nullptr, nullptr, nullptr);
    object->deleteLater();
    object = nullptr;
}
