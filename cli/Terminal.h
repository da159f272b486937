#pragma once

#include <QByteArray>
#include <QObject>

// Standard input as an interactive terminal: raw keys, each passed on as
// typed (Ctrl-C, Ctrl-Z, Ctrl-D and Ctrl-S included), while the output side
// keeps its settings so that line ends still show as such. Ctrl-T (or
// another control key) is the escape prefix: the key after it is a command
// (see helpText()); the escape key twice sends it once. In line mode (a datagram link: one datagram per
// line) typed keys wait until Enter and leave as one piece; Backspace takes
// back the last key waiting. The terminal's settings are put back when the
// object goes, at exit(), and on a signal that ends the process
// (SIGINT and SIGTERM end pcom in order, and so through the destructor).
class Terminal : public QObject
{
    Q_OBJECT
public:
    // Whether standard input is a terminal.
    static bool isInteractive();
    // Puts standard input in raw mode.
    explicit Terminal(QObject *parent = nullptr);
    ~Terminal() override;

    // The bytes to send of what was typed; the commands in it are emitted.
    QByteArray take(const QByteArray &typed);
    void setLineMode(bool on) { m_lineMode = on; }

    // `letter` a to z: Ctrl-letter becomes the escape key.
    void setEscapeKey(char letter) { m_escapeKey = char(letter & 0x1f); }
    QByteArray helpText() const;
    static const char defaultEscapeLetter = 't';

signals:
    void quitRequested();
    void breakRequested();
    void hexToggled();
    void echoToggled();
    // d, r (switch DTR, RTS), D, R (pulse them), m (modem lines), l (line
    // settings), s (statistics).
    void lineCommand(char key);

private:
    static void restore();
    static void onFatalSignal(int signalNumber);

    char m_escapeKey = defaultEscapeLetter & 0x1f;
    bool m_escaped = false;
    bool m_lineMode = false;
    QByteArray m_line;
};
