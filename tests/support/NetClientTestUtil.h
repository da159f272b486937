#pragma once

#include "tests/support/LogCapture.h"
#include "host/Plugin_Com_Port.h"
#include "host/TavlinProperty.h"

#include <QSignalSpy>
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

inline QList<int> levels(const LogCapture &log)
{
    QList<int> out;
    for (const LogCapture::Line &line : log.lines())
        out << line.type;
    return out;
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

// Waits, bounded, for readyRead() unless one is already recorded.
inline bool waitReady(QSignalSpy &ready)
{
    if (ready.isEmpty() && !ready.wait(5000))
        return false;
    ready.clear();
    return true;
}

// A closed port has nothing to send or read, and close() only announces a
// change, silently.
inline bool behavesClosed(Plugin_Com_Port &port, const LogCapture &log)
{
    QSignalSpy changed(&port, &AbstractTreeItem::dataChanged);
    char buf[8];
    const bool io = port.writeRawData("abc", 3) == 0 && port.readRawData(buf, sizeof buf) == -1 &&
                    port.readByteStream(buf, sizeof buf) == -1;
    port.close();
    return io && changed.count() == 1 && log.texts().isEmpty();
}

} // namespace NetClientTestUtil
