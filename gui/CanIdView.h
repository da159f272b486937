#pragma once

#include <QCanBusFrame>
#include <QHash>
#include <QTableWidget>

class Coalescer;

// One row per CAN identifier (extended and base identifiers apart), sorted
// by identifier: how many frames came, the time between the last two, the
// last data with the bytes that changed from the frame before in brackets
// ("11 [23] 33"). Rows are updated in batches, as the trace's.
class CanIdView : public QTableWidget
{
    Q_OBJECT
public:
    explicit CanIdView(QWidget *parent = nullptr);

    void append(const QCanBusFrame &frame, bool sent);
    void clearRows();
    // The row's texts for an identifier ("123", "0000ABCD"), tab-separated;
    // empty when none came.
    QString rowText(const QString &identifier) const;

    static QString dataText(const QByteArray &data, const QByteArray &before);

private:
    struct Entry {
        QCanBusFrame frame;
        QByteArray before;
        qint64 count = 0;
        qint64 lastUs = -1;
        qint64 cycleUs = -1;
        bool sent = false;
        bool dirty = true;
    };
    void flush();

    QHash<quint64, Entry> m_entries;
    Coalescer *m_flush;
};
