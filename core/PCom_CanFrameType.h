#pragma once

#include <QCanBusFrame>
#include <QMetaType>

// Qt 5 leaves QCanBusFrame out of its meta-type system; the CAN port's
// writeFrame() and readFrame(), which hosts reach by name, need it there.
// The CAN port registers it; a host includes this header to name the type.
Q_DECLARE_METATYPE(QCanBusFrame)
