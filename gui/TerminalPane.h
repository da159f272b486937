#pragma once

#include <QCanBusFrame>
#include <QJsonObject>
#include <QStringList>
#include <QWidget>

class Bridge;
class CandumpReplay;
class CanBusHealth;
class CanFrameTable;
class CanIdView;
class MacroBar;
class ClientList;
class Coalescer;
class PortLink;
class PortLog;
class PeriodicSender;
class Plugin_Com_Port;
class SerialSettingsPanel;
class TerminalEndpoint;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QSpinBox;
class QTimer;
class StreamView;

// The terminal of one port: what arrives (as text or hex, or as a frame
// trace and a per-identifier view on a CAN port), a line to send with a
// chosen line ending or as hex (a cansend line on a CAN port), with a
// history (Up, Down) and an optional local echo, a search in what is shown,
// a file to send (and to cancel), the byte counts both ways and the link's
// state. Ports with more to them get a panel: the serial line's settings,
// a server's clients, a CAN port's filters and periodic frames. While the
// port is open, a bridge moves data between the port and the terminal's end
// (TerminalEndpoint), as pcom does between a port and its standard streams;
// showing is batched. What arrives can also go to a log file.
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
    // The link's state in words, and the last message of a send.
    QString stateText() const;
    QString statusText() const;
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
    // Sends the input line (Return in it); a line that is not sent stays.
    void sendLine();
    // Forgets what is shown and zeroes the counts and the hex offset.
    void clearView();
    // Puts the cursor in the search field.
    void startFind();
    bool findNext(const QString &text);

    // What arrives is appended to this file (empty: none); false, with the
    // reason shown, when it cannot be opened.
    bool setLogFile(const QString &fileName);
    QString logFile() const;
    // CAN receive filters in candump's notation, separated by commas or
    // blanks; false, with the reason shown, when one is none.
    bool setCanFilters(const QString &text);

    // Sends the frames of a candump log with their gaps (a CAN port); false,
    // with the reason shown, when it is no log or the port is not open.
    bool replayLog(const QString &fileName);
    bool isReplaying() const { return m_replay != nullptr; }

    // Every terminal setting, for a workspace, and back.
    QJsonObject settings() const;
    void applySettings(const QJsonObject &settings);

    CanIdView *idView() const { return m_idView; }
    CanBusHealth *busHealth() const { return m_health; }
    PeriodicSender *periodic() const { return m_periodic; }
    SerialSettingsPanel *serialPanel() const { return m_serial; }
    ClientList *clients() const { return m_clients; }
    MacroBar *macros() const { return m_macros; }

signals:
    // A setting that a workspace keeps changed.
    void settingsChanged();
    // The state was shown again (the port's label may have changed with it).
    void stateShown();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    bool isCan() const;
    QWidget *buildStreamControls();
    QWidget *buildCanControls();
    bool sendFrame(const QCanBusFrame &frame, QString *why);
    bool sendData(const QByteArray &data, const QString &echoed, QString *why);
    void applyDelays();
    void chooseFile();
    void updateState();
    void startBridge();
    void endBridge();
    void count(qint64 received, qint64 sent);
    void showCounters();
    void showStatus(const QString &text);
    void recall(int step);
    QString noteBefore(int size);

    Plugin_Com_Port *m_port;
    StreamView *m_stream = nullptr;
    CanFrameTable *m_frames = nullptr;
    CanIdView *m_idView = nullptr;
    CanBusHealth *m_health = nullptr;
    PeriodicSender *m_periodic = nullptr;
    SerialSettingsPanel *m_serial = nullptr;
    ClientList *m_clients = nullptr;
    QComboBox *m_mode = nullptr;
    QCheckBox *m_timestamps = nullptr;
    QCheckBox *m_echo = nullptr;
    QLineEdit *m_filters = nullptr;
    QSpinBox *m_scrollback;
    QLabel *m_counters;
    QLabel *m_state;
    QLabel *m_status;
    QLineEdit *m_input;
    QLineEdit *m_find;
    QComboBox *m_ending = nullptr;
    QCheckBox *m_hexInput = nullptr;
    QSpinBox *m_charDelay = nullptr;
    QSpinBox *m_lineDelay = nullptr;
    MacroBar *m_macros = nullptr;
    QPushButton *m_send;
    QPushButton *m_sendFile = nullptr;
    QPushButton *m_cancelFile = nullptr;
    QProgressBar *m_progress = nullptr;
    // What follows Send in the input row: a file to send, or a CAN port's
    // periodic frames and replay.
    QList<QWidget *> m_besideSend;
    Coalescer *m_countersUpdate;
    QTimer *m_openingPoll;
    PortLog *m_log;
    PortLink *m_link = nullptr;
    TerminalEndpoint *m_endpoint = nullptr;
    Bridge *m_bridge = nullptr;
    CandumpReplay *m_replay = nullptr;
    QStringList m_history;
    int m_historyIndex = 0;
    int m_lastClient = 0;
    QString m_filterText;
    qint64 m_received = 0;
    qint64 m_sent = 0;
};
