#pragma once

#include "tests/support/LogCapture.h"
#include "host/Plugin_Com_Port.h"
#include "host/TavlinProperty.h"

#include <QVariant>
#include <initializer_list>
#include <utility>

// Helpers shared by the port tests.
namespace NetClientTestUtil {

// Writes the properties in the given order and hands the port back.
template <class Port>
Port *configured(Port *port, std::initializer_list<std::pair<const char *, QVariant>> values)
{
    for (const auto &value : values)
        port->setTavlinProperty(QString::fromLatin1(value.first), value.second);
    return port;
}

// The names of the properties the host's editor may change now.
inline QStringList writable(const Plugin_Com_Port &port)
{
    QStringList out;
    for (const TavlinProperty *record : port.tavlinProperties()) {
        if (record->isWritable())
            out << record->name();
    }
    return out;
}

// Reads `chunk` bytes a call until a read finds nothing: what was read, or,
// should that read not answer -1, a text that says what it answered.
inline QByteArray readChunks(Plugin_Com_Port &port, int chunk)
{
    QByteArray out;
    char buf[256];
    int n;
    while ((n = port.readRawData(buf, chunk)) > 0)
        out.append(buf, n);
    return n == -1 ? out : "[read answered " + QByteArray::number(n) + "]";
}

} // namespace NetClientTestUtil
