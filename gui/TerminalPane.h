#pragma once

#include <QWidget>

class Bridge;
class CanFrameTable;
class Coalescer;
class PortLink;
class Plugin_Com_Port;
class TerminalEndpoint;
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
// (a cansend line on a CAN port), a file to send (and to cancel), and the
// byte counts both ways. While the port is open, a bridge moves data between
// the port and the terminal's end (TerminalEndpoint), as pcom does between a
// port and its standard streams; showing is batched.
class TerminalPane : public QWidget
{
    Q_OBJECT
public:
    explicit TerminalPane(Plugin_Com_Port *port, QWidget *parent = nullptr);
    ~TerminalPane() override;

    Plugin_Com_Port *port() const { return m_port; }
    QLineEdit *input() const { return m_input; }
    // What the output shows, as plain text (tab-separated rows for frames).
    QString shownText() const;
    qint64 received() const { return m_received; }
    qint64 sent() const { return m_sent; }
    void setScrollback(int lines);
    // Shows what arrives as a hex dump rather than as text (byte streams).
    void setHexView(bool hex);
    // Sends a file through the port; false, with the reason shown, when it
    // cannot be read or the port is not open.
    bool sendFile(const QString &fileName);
    void cancelFile();
    // The terminal's end while the port is open, else null.
    TerminalEndpoint *endpoint() const { return m_endpoint; }

private:
    bool isCan() const;
    void sendLine();
    void chooseFile();
    void updateState();
    void startBridge();
    void endBridge();
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
    QPushButton *m_cancelFile = nullptr;
    QProgressBar *m_progress = nullptr;
    Coalescer *m_countersUpdate;
    PortLink *m_link = nullptr;
    TerminalEndpoint *m_endpoint = nullptr;
    Bridge *m_bridge = nullptr;
    qint64 m_received = 0;
    qint64 m_sent = 0;
};
