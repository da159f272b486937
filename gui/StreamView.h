#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QPlainTextEdit>

#include <deque>
#include <memory>

class Coalescer;
class QTextDecoder;

// What arrived on a byte-stream port, as text or as a hex dump, with notes
// between the bytes (whose client they are, a datagram's start, a line
// echoed as sent). Bytes are collected and shown in batches (see Coalescer);
// the view keeps at most the scrollback's number of lines. An update shows a
// bounded number of lines: of a larger burst the newest part is shown after
// a line that counts the rest. The newest part of what was shown is kept as
// it arrived, so that a change of mode or of timestamps shows it again the
// new way.
class StreamView : public QPlainTextEdit
{
    Q_OBJECT
public:
    enum Mode { Text, Hex };

    explicit StreamView(QWidget *parent = nullptr);
    ~StreamView() override;

    void setMode(Mode mode);
    Mode mode() const { return m_mode; }
    void setTimestamps(bool on);
    bool timestamps() const { return m_timestamps; }
    void setScrollback(int lines);
    void append(const QByteArray &data);
    // A line of its own before what follows; bytes after it start a new
    // line (and a new hex dump at offset 0 of the note's block).
    void appendNote(const QString &text);
    // Forgets everything shown; the hex offset starts again at 0.
    void clearAll();
    // Selects the next match of `text` after the cursor (or before it,
    // backwards), going round the end; false when there is none.
    bool findText(const QString &text, bool backwards = false);

    // The most bytes kept as they arrived for showing again.
    static const int keptBytes = 256 * 1024;

private:
    struct Chunk {
        QDateTime time;
        QByteArray data;
        QString note;
        qint64 offset = 0;
        // What it counts for in the bound of an update: its bytes, or a line.
        int weight = 0;
    };

    void trimPending();
    void flush();
    void keep(const Chunk &chunk);
    void rerender();
    // Adds the text of the chunks to m_out.
    void render(const std::deque<Chunk> &chunks);
    void appendText(const QString &text, const QDateTime &time);
    void insert(const QString &text);

    Mode m_mode = Text;
    bool m_timestamps = false;
    bool m_atLineStart = true;
    std::deque<Chunk> m_pending;
    qint64 m_pendingBytes = 0;
    std::deque<Chunk> m_kept;
    qint64 m_keptBytes = 0;
    // Position in the stream of the next byte that arrives (the hex dump's offset).
    qint64 m_offset = 0;
    // Bytes dropped unshown since the last turn.
    qint64 m_skipped = 0;
    std::unique_ptr<QTextDecoder> m_decoder;
    QString m_out;
    Coalescer *m_flush;
};
