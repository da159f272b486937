#pragma once

#include <QSet>
#include <QStringList>
#include <QWidget>

class QListWidget;

// The device log and Qt's message log, one line each with its time and
// kind, coloured by kind. Kinds can be hidden; the selection can be copied
// and the whole log saved. The newest 10,000 lines are kept.
class LogPane : public QWidget
{
    Q_OBJECT
public:
    explicit LogPane(QWidget *parent = nullptr);

    // The kinds that the filter offers, in order.
    static QStringList kinds();
    // The lines shown now (kind filter applied), as "kind: text".
    QStringList shownLines() const;
    void setKindShown(const QString &kind, bool shown);
    bool save(const QString &fileName, QString *error) const;

public slots:
    void addLine(const QString &kind, const QString &text);
    void copySelection() const;

private:
    QListWidget *m_list;
    QSet<QString> m_hidden;
};
