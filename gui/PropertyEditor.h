#pragma once

#include "host/Plugin_Com_Port.h"

#include <QList>
#include <QPointer>
#include <QVariant>
#include <QWidget>

class QComboBox;
class QLabel;
class QTableWidget;
class TavlinProperty;

// The property records of one port, in their order, each with an editor
// that follows its input type: a line edit checked against the record's
// validator, a choice of its options that still takes other text, a check
// box. Records that are not writable are shown disabled; everything is read
// again whenever the port raises its data-changed signal. Address records
// also take IPv6 addresses and host names, resolved here as pcom does; a
// client's port must be 1 or more.
class PropertyEditor : public QWidget
{
    Q_OBJECT
public:
    explicit PropertyEditor(QWidget *parent = nullptr);

    void setPort(Plugin_Com_Port *port);
    Plugin_Com_Port *port() const { return m_port; }
    // "2.10", "2.12", "2.20" or "none" (every record).
    void setHostVersion(const QString &version);
    QString hostVersion() const;
    // The editor of a record, or null when it is not shown.
    QWidget *editor(const QString &name) const;
    QString message() const;

public slots:
    void refresh();

signals:
    void hostVersionChanged(const QString &version);
    // A value was written through the editor.
    void edited();

private:
    struct Row {
        TavlinProperty *record;
        QWidget *editor;
    };

    void rebuild();
    QWidget *createEditor(TavlinProperty *record);
    void commit(TavlinProperty *record, const QVariant &value);
    void showMessage(const QString &text);

    QPointer<Plugin_Com_Port> m_port;
    QComboBox *m_version;
    QTableWidget *m_table;
    QLabel *m_message;
    QList<Row> m_rows;
};
