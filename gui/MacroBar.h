#pragma once

#include <QJsonArray>
#include <QList>
#include <QWidget>

class QHBoxLayout;

// Named byte strings sent with one click, as terminals' macros: each is a
// button, and the first nine are also Ctrl+1 to Ctrl+9 within the
// terminal. Text takes the escapes \r, \n, \t, \\ and \xNN; text that
// begins with "hex:" is hex digit pairs. A right-click removes one.
class MacroBar : public QWidget
{
    Q_OBJECT
public:
    // Shortcuts work while the focus is inside `scope`.
    explicit MacroBar(QWidget *scope, QWidget *parent = nullptr);

    // False, with the reason, for an empty name or bytes that do not read.
    bool addMacro(const QString &name, const QString &text, QString *why);
    void removeMacro(int index);
    int count() const { return m_macros.size(); }
    void trigger(int index);

    // [{"name": ..., "text": ...}] for the workspace.
    QJsonArray rows() const;
    void setRows(const QJsonArray &rows);

signals:
    void triggered(const QByteArray &bytes, const QString &name);
    void changed();

private:
    struct Macro {
        QString name;
        QString text;
        QByteArray bytes;
    };
    static bool bytesOf(const QString &text, QByteArray *out, QString *why);
    void askForMacro();
    void rebuild();

    QWidget *m_scope;
    QHBoxLayout *m_buttons;
    QList<Macro> m_macros;
    QList<QObject *> m_made;
};
