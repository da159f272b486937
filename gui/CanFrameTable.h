#pragma once

#include <QByteArray>
#include <QTableWidget>
#include <QTime>
#include <QVector>

class Coalescer;

// Received CAN frames, one row each: time, identifier, extended, length,
// data. Frames are added in batches (see Coalescer) and the table keeps the
// newest scrollback rows.
class CanFrameTable : public QTableWidget
{
    Q_OBJECT
public:
    explicit CanFrameTable(QWidget *parent = nullptr);

    void setScrollback(int rows);
    void append(quint32 id, const QByteArray &payload);

private:
    struct Frame {
        QTime time;
        quint32 id;
        QByteArray payload;
    };

    void flush();

    int m_scrollback = 10000;
    QVector<Frame> m_pending;
    Coalescer *m_flush;
};
