#include "gui/PropertyEditor.h"

#include "host/Plugin_Com_Port.h"
#include "host/TavlinProperty.h"
#include "core/PCom_ServedClients.h"
#include "hostlib/PluginHost.h"
#include "hostlib/PropertyAssigner.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QSignalBlocker>
#include <QTableWidget>
#include <QVBoxLayout>

namespace {

const QString badInput = QStringLiteral("QLineEdit { background: #ffd8d8; }");

QString toolTipOf(const Plugin_Com_Port *port, const TavlinProperty *record)
{
    const QString expected = PropertyAssigner::expectation(port, record);
    return expected.isEmpty() ? record->description
                              : QStringLiteral("%1\n(%2)").arg(record->description, expected);
}

} // namespace

PropertyEditor::PropertyEditor(QWidget *parent)
    : QWidget(parent), m_version(new QComboBox), m_table(new QTableWidget(0, 2)), m_message(new QLabel)
{
    m_version->addItems({QStringLiteral("2.10"), QStringLiteral("2.12"), QStringLiteral("2.20"), QStringLiteral("none")});
    m_version->setCurrentText(QStringLiteral("2.20"));
    m_version->setToolTip(tr("Show the records that this host version supports"));
    connect(m_version, &QComboBox::currentTextChanged, this, [this](const QString &version) {
        rebuild();
        emit hostVersionChanged(version);
    });
    m_table->setHorizontalHeaderLabels({tr("Property"), tr("Value")});
    // Names as wide as they need, values in the rest: never a horizontal scroll bar.
    m_table->horizontalHeader()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    m_table->horizontalHeader()->setSectionResizeMode(1, QHeaderView::Stretch);
    m_table->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_message->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    m_table->verticalHeader()->hide();
    m_table->setSelectionMode(QAbstractItemView::NoSelection);
    m_message->setWordWrap(true);

    auto *top = new QHBoxLayout;
    top->addWidget(new QLabel(tr("Host version")));
    top->addWidget(m_version, 1);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addLayout(top);
    layout->addWidget(m_table, 1);
    layout->addWidget(m_message);
}

void PropertyEditor::setPort(Plugin_Com_Port *port)
{
    if (m_port)
        disconnect(m_port, nullptr, this, nullptr);
    m_port = port;
    if (m_port)
        connect(m_port, &AbstractTreeItem::dataChanged, this, &PropertyEditor::refresh);
    showMessage(QString());
    rebuild();
}

void PropertyEditor::setHostVersion(const QString &version)
{
    m_version->setCurrentText(version);
}

QString PropertyEditor::hostVersion() const
{
    return m_version->currentText();
}

QWidget *PropertyEditor::editor(const QString &name) const
{
    for (const Row &row : m_rows) {
        if (row.record->name() == name)
            return row.editor;
    }
    return nullptr;
}

QString PropertyEditor::message() const
{
    return m_message->text();
}

void PropertyEditor::rebuild()
{
    m_rows.clear();
    m_table->setRowCount(0);
    if (!m_port)
        return;
    const bool all = m_version->currentText() == QLatin1String("none");
    const Version version(m_version->currentText());
    for (TavlinProperty *record : m_port->tavlinProperties()) {
        if (!record->isVisible() || !(all || record->isSupported(version)))
            continue;
        const int row = m_table->rowCount();
        m_table->insertRow(row);
        auto *name = new QTableWidgetItem(record->name());
        name->setFlags(Qt::ItemIsEnabled);
        name->setToolTip(toolTipOf(m_port, record));
        m_table->setItem(row, 0, name);
        QWidget *editor = createEditor(record);
        editor->setToolTip(name->toolTip());
        m_table->setCellWidget(row, 1, editor);
        m_rows.append({record, editor});
    }
    refresh();
}

QWidget *PropertyEditor::createEditor(TavlinProperty *record)
{
    if (record->inputType() == TavlinProperty::Boolean) {
        auto *box = new QCheckBox;
        connect(box, &QCheckBox::clicked, this, [this, record](bool on) { commit(record, on); });
        return box;
    }
    QLineEdit *line = nullptr;
    QWidget *editor = nullptr;
    if (record->inputType() == TavlinProperty::Choice) {
        auto *combo = new QComboBox;
        combo->setEditable(true);
        combo->setInsertPolicy(QComboBox::NoInsert);
        // The combo box also confirms the value shown again after a refusal:
        // that is no news, and the refusal's message stays.
        connect(combo, QOverload<int>::of(&QComboBox::activated), this, [this, record, combo] {
            if (m_port && m_port->getTavlinProperty(record->name()).toString() != combo->currentText())
                commit(record, combo->currentText());
        });
        line = combo->lineEdit();
        editor = combo;
    } else {
        line = new QLineEdit;
        editor = line;
    }
    // The record's validator is applied on commit rather than installed, so
    // that words a port gives a meaning of its own ("any") can be typed.
    const Plugin_Com_Port *port = m_port;
    connect(line, &QLineEdit::textEdited, this, [line, record, port](const QString &text) {
        line->setStyleSheet(PropertyAssigner::rejection(port, record, text).isEmpty() ? QString() : badInput);
    });
    connect(line, &QLineEdit::editingFinished, this, [this, record, line] {
        if (!line->isModified())
            return;
        line->setModified(false);
        commit(record, line->text());
    });
    return editor;
}

void PropertyEditor::commit(TavlinProperty *record, const QVariant &value)
{
    // An editor on its way out may still finish an edit of a port no longer shown.
    if (!m_port || !m_port->tavlinProperties().contains(record))
        return;
    const QString text = value.toString();
    const QString name = record->name();
    // A client with port 0 would send nowhere; a server takes 0 for "any free port".
    const bool client = m_port->tavlinProperty(QStringLiteral("address")) && !PluginHost::face<PCom_ServedClients>(m_port);
    const bool address = record->inputType() == TavlinProperty::FreeText && name.contains(QLatin1String("address"));
    QString why;
    QVariant back;
    if (client && name == QLatin1String("port") && text.trimmed() == QLatin1String("0")) {
        why = tr("a client needs its peer's port, 1 to 65535");
    } else if (address) {
        if (PropertyAssigner::assign(m_port, {{name, text, true}}, &why, PropertyAssigner::Addresses::Resolved))
            why.clear();
        back = m_port->getTavlinProperty(name);
    } else {
        why = PropertyAssigner::rejection(m_port, record, text);
        if (why.isEmpty())
            back = m_port->setTavlinProperty(name, value);
    }
    if (!why.isEmpty()) {
        showMessage(tr("'%1' is not written to %2: %3").arg(text, name, why));
        refresh();
        return;
    }
    emit edited();
    if (name == QLatin1String("connect") && value.toBool() && !back.toBool())
        showMessage(tr("The port did not open; the log says why."));
    else if (!address && !PropertyAssigner::takenBack(text, back))
        showMessage(tr("%1 reads back '%2' after writing '%3'").arg(name, back.toString(), text));
    else
        showMessage(QString());
    refresh();
}

void PropertyEditor::refresh()
{
    if (!m_port)
        return;
    for (const Row &row : qAsConst(m_rows)) {
        const QVariant value = m_port->getTavlinProperty(row.record->name());
        const QSignalBlocker block(row.editor);
        row.editor->setEnabled(row.record->isWritable());
        if (auto *box = qobject_cast<QCheckBox *>(row.editor)) {
            box->setChecked(value.toBool());
            continue;
        }
        if (auto *combo = qobject_cast<QComboBox *>(row.editor)) {
            QStringList shown;
            for (int i = 0; i < combo->count(); ++i)
                shown.append(combo->itemText(i));
            if (shown != row.record->options()) {
                combo->clear();
                combo->addItems(row.record->options());
            }
            combo->setCurrentIndex(combo->findText(value.toString()));
        }
        QLineEdit *line = qobject_cast<QLineEdit *>(row.editor);
        if (!line)
            line = static_cast<QComboBox *>(row.editor)->lineEdit();
        if (!line->isModified()) {
            line->setText(value.toString());
            line->setStyleSheet(QString());
        }
    }
}

void PropertyEditor::showMessage(const QString &text)
{
    m_message->setText(text);
    m_message->setVisible(!text.isEmpty());
}
