#pragma once

#include <QByteArray>
#include <QCanBusFrame>
#include <QFile>
#include <QObject>
#include <QTimer>

// A port's log file, appended to while the terminal runs: the bytes that
// arrive as they are, or each CAN frame (received and sent) as a record of
// candump's log ("(1436509053.850870) can0 123#DEADBEEF", what candump -L
// writes and canplayer and pcom --replay read). Written through a buffer
// that goes to the file a second after a write and when the log is closed,
// so that a flood costs few system calls, an idle log wakes nobody up and an
// orderly quit loses nothing.
class PortLog : public QObject
{
    Q_OBJECT
public:
    explicit PortLog(QObject *parent = nullptr);
    ~PortLog() override;

    // False, with the reason, when the file cannot be opened for appending.
    bool open(const QString &fileName, QString *error);
    void close();
    bool isOpen() const { return m_file.isOpen(); }
    QString fileName() const { return m_file.fileName(); }
    // The interface named in the records ("can0").
    void setInterfaceName(const QByteArray &name) { m_interface = name; }

    void writeBytes(const QByteArray &data);
    void writeFrame(const QCanBusFrame &frame);
    void flush();

    // The interface of a CAN device text: its last part ("tcp://host:1/can0"
    // gives "can0"), "can0" when it has none.
    static QByteArray interfaceOf(const QString &device);

private:
    void scheduleFlush();

    QFile m_file;
    QByteArray m_interface = "can0";
    QTimer m_flush;
};
