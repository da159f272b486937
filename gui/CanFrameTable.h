#pragma once

#include <QCanBusFrame>
#include <QTableWidget>
#include <QTime>
#include <QVector>

class Coalescer;

// CAN frames, one row each: time, identifier, flags (extended format,
// remote request, error frame, flexible data rate, bit rate switch, and TX
// for a frame that this terminal sent), length, data. Frames are added in batches (see Coalescer) and the table
// keeps the newest scrollback rows; of a burst larger than one batch shows,
// the newest frames are shown after a row that counts the ones left out.
class CanFrameTable : public QTableWidget
{
    Q_OBJECT
public:
    explicit CanFrameTable(QWidget *parent = nullptr);

    void setScrollback(int rows);
    void append(const QCanBusFrame &frame, bool sent = false);
    void clearRows();
    // Frames that were left out of the table so far.
    qint64 framesLeftOut() const { return m_leftOutTotal; }

    static QString flagsText(const QCanBusFrame &frame);
    // Sets the columns of a frame table to the width of their widest
    // usual text (or of their header), the last one taking the rest.
    static void fitColumns(QTableWidget *table, const QStringList &samples);

private:
    struct Row {
        QTime time;
        QCanBusFrame frame;
        bool sent;
    };

    void flush();
    void addRow(const QStringList &cells);

    int m_scrollback = 10000;
    QVector<Row> m_pending;
    qint64 m_leftOut = 0;
    qint64 m_leftOutTotal = 0;
    Coalescer *m_flush;
};
