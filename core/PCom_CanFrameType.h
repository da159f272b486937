#pragma once

#include <QCanBusFrame>
#include <QMetaType>

// Qt 5 leaves QCanBusFrame out of its meta-type system; a frame carried by a
// signal into a QVariant (QSignalSpy, a queued connection) needs it there.
Q_DECLARE_METATYPE(QCanBusFrame)
