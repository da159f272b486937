#pragma once

#include <QPointer>
#include <QWidget>

class CanFrameTable;
class Coalescer;
class FileSender;
class Plugin_Com_Port;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QSpinBox;
class StreamView;

// The terminal of one port: what arrives (as text or hex, or as a frame
// table on a CAN port), a line to send with a chosen line ending or as hex
// (a cansend line on a CAN port), a file to send, and the byte counts both
// ways. Reading drains the port on every readyRead(); showing is batched.
class TerminalPane : public QWidget
{
    Q_OBJECT
public:
    explicit TerminalPane(Plugin_Com_Port *port, QWidget *parent = nullptr);

    Plugin_Com_Port *port() const { return m_port; }
    QLineEdit *input() const { return m_input; }
    // What the output shows, as plain text (tab-separated rows for frames).
    QString shownText() const;
    qint64 received() const { return m_received; }
    qint64 sent() const { return m_sent; }
    void setScrollback(int lines);
    // Shows what arrives as a hex dump rather than as text (byte streams).
    void setHexView(bool hex);

private slots:
    void readPort();
    void sendLine();
    void sendFile();
    void updateState();

private:
    bool isCan() const;
    void write(const QByteArray &data);
    void count(qint64 received, qint64 sent);
    void showCounters();
    void showStatus(const QString &text);

    Plugin_Com_Port *m_port;
    StreamView *m_stream = nullptr;
    CanFrameTable *m_frames = nullptr;
    QComboBox *m_mode = nullptr;
    QCheckBox *m_timestamps = nullptr;
    QSpinBox *m_scrollback;
    QLabel *m_counters;
    QLabel *m_state;
    QLineEdit *m_input;
    QComboBox *m_ending = nullptr;
    QCheckBox *m_hexInput = nullptr;
    QPushButton *m_send;
    QPushButton *m_sendFile = nullptr;
    QProgressBar *m_progress = nullptr;
    QPointer<FileSender> m_sender;
    Coalescer *m_countersUpdate;
    QByteArray m_buffer;
    qint64 m_received = 0;
    qint64 m_sent = 0;
};
