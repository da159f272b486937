#pragma once

#include <QByteArray>
#include <QCanBusFrame>
#include <QFile>
#include <QString>

// --log FILE: both directions of a session, one line per piece of data as
// it was sent or read, with the time and the direction:
//   2026-12-06 10:00:01.250 > AT\r
//   2026-12-06 10:00:01.262 < OK\r\n
// Bytes other than printable ASCII are escaped (\r, \n, \t, \\, \xNN), so a
// line is always one piece; frames are their cansend lines.
class SessionLog
{
public:
    bool open(const QString &fileName, QString *error);
    bool isOpen() const { return m_file.isOpen(); }

    void sent(const QByteArray &data) { record('>', escaped(data)); }
    void received(const QByteArray &data) { record('<', escaped(data)); }
    void sentFrame(const QCanBusFrame &frame);
    void receivedFrame(const QCanBusFrame &frame);

    static QByteArray escaped(const QByteArray &data);

private:
    void record(char direction, const QByteArray &text);

    QFile m_file;
};
