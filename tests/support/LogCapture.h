#pragma once

#include "host/KrLog_Interface.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <QtGlobal>

// Records every line of the host's device log and of Qt's message log while
// it lives. One at a time.
class LogCapture : public KrLog_Interface
{
public:
    struct Line {
        QString channel; // "device" or "qt"
        int type;        // KrLog_Interface::Type, or QtMsgType for "qt"
        QString text;
    };

    LogCapture();
    ~LogCapture() override;

    void log(Type type, const QString &text) override;

    QList<Line> lines() const { return m_lines; }
    // Texts of the device log, optionally of one type only.
    QStringList deviceTexts(int type = -1) const;
    // Texts of Qt's message log, optionally of one level only.
    QStringList qtTexts(int level = -1) const;
    // Every text in arrival order, both channels.
    QStringList texts() const;
    bool contains(const QString &text) const { return texts().contains(text); }
    void clear() { m_lines.clear(); }

private:
    static void messageHandler(QtMsgType type, const QMessageLogContext &context, const QString &text);

    QList<Line> m_lines;
    QtMessageHandler m_previousHandler;
    static LogCapture *s_current;
};
