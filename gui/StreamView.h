#pragma once

#include <QByteArray>
#include <QPlainTextEdit>

#include <memory>

class Coalescer;
class QTextDecoder;

// What arrived on a byte-stream port, as text or as a hex dump. Bytes are
// collected and shown in batches (see Coalescer); the view keeps at most the
// scrollback's number of lines. An update shows a bounded number of lines: of
// a larger burst the newest part is shown after a line that counts the rest.
class StreamView : public QPlainTextEdit
{
    Q_OBJECT
public:
    enum Mode { Text, Hex };

    explicit StreamView(QWidget *parent = nullptr);
    ~StreamView() override;

    void setMode(Mode mode);
    Mode mode() const { return m_mode; }
    void setTimestamps(bool on) { m_timestamps = on; }
    void setScrollback(int lines);
    void append(const QByteArray &data);

private:
    void flush();
    void appendText(const QString &text);

    Mode m_mode = Text;
    bool m_timestamps = false;
    bool m_atLineStart = true;
    QByteArray m_pending;
    // Position in the stream of m_pending's first byte (the hex dump's offset).
    qint64 m_offset = 0;
    // Bytes dropped unshown since the last turn.
    qint64 m_skipped = 0;
    std::unique_ptr<QTextDecoder> m_decoder;
    Coalescer *m_flush;
};
