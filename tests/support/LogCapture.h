#pragma once

#include "host/KrLog_Interface.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <QtGlobal>

// Records every line of the host's device log and of Qt's message log while
// it lives, or only the first few problems: a run of thousands of cycles must
// not keep a log that would itself look like a leak. One at a time.
class LogCapture : public KrLog_Interface
{
public:
    struct Line {
        QString channel; // "device" or "qt"
        int type;        // KrLog_Interface::Type, or QtMsgType for "qt"
        QString text;
    };

    enum Keep { Lines, ProblemsOnly };

    explicit LogCapture(Keep keep = Lines);
    ~LogCapture() override;

    void log(Type type, const QString &text) override;

    QList<Line> lines() const { return m_lines; }
    // Texts in arrival order: of the device log or of Qt's (of one type or
    // level only, if given), or of both.
    QStringList deviceTexts(int type = -1) const { return textsOf("device", type); }
    QStringList qtTexts(int level = -1) const { return textsOf("qt", level); }
    QStringList texts() const { return textsOf(nullptr, -1); }
    bool contains(const QString &text) const { return texts().contains(text); }
    void clear() { m_lines.clear(); }

    // The first few error, critical and warning texts, to show what went wrong.
    QStringList problems() const { return m_problems; }

private:
    static void messageHandler(QtMsgType type, const QMessageLogContext &context, const QString &text);
    void record(const QString &channel, int type, const QString &text, bool problem);
    QStringList textsOf(const char *channel, int type) const;

    Keep m_keep;
    QList<Line> m_lines;
    QStringList m_problems;
    QtMessageHandler m_previousHandler;
    static LogCapture *s_current;
};
