#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <functional>

// A line on standard error, redrawn twice a second while input is sent:
// bytes so far, rate, and where the size is known (a file on standard
// input) the share and the time left. It is ended with a line break when
// the object goes.
class ProgressLine : public QObject
{
    Q_OBJECT
public:
    // `done` tells the bytes sent so far; total is 0 when unknown.
    ProgressLine(qint64 total, std::function<qint64()> done, QObject *parent = nullptr);
    ~ProgressLine() override;

    // The size of standard input when it is a regular file, otherwise 0.
    static qint64 inputFileSize();
    // Whether to show it by default: standard input a file, standard error
    // a terminal.
    static bool wantedByDefault();

    static QString sizeText(double bytes);

private:
    void draw();

    qint64 m_total;
    std::function<qint64()> m_done;
    QElapsedTimer m_clock;
    QTimer m_timer;
    bool m_drawn = false;
};
