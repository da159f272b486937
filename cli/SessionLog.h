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
// line is always one piece; frames are their cansend lines. In the candump
// form (frames only) both directions are candump -L records, which
// canplayer and pcom open --replay play back:
//   (1436509053.850870) can0 123#DEADBEEF
class SessionLog
{
public:
    enum class Form { Text, Candump };

    // `append`: add to what the file holds instead of starting it anew.
    bool open(const QString &fileName, bool append, QString *error);
    // `interfaceName`: what candump records name the bus.
    void setForm(Form form, const QByteArray &interfaceName);
    bool isOpen() const { return m_file.isOpen(); }

    void sent(const QByteArray &data) { record('>', escaped(data)); }
    void received(const QByteArray &data) { record('<', escaped(data)); }
    void sentFrame(const QCanBusFrame &frame);
    void receivedFrame(const QCanBusFrame &frame);

    static QByteArray escaped(const QByteArray &data);

private:
    void record(char direction, const QByteArray &text);
    void recordFrame(char direction, const QCanBusFrame &frame);

    QFile m_file;
    Form m_form = Form::Text;
    QByteArray m_interface;
};
