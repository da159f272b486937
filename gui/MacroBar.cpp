#include "gui/MacroBar.h"

#include "hostlib/HexCodec.h"

#include <QHBoxLayout>
#include <QInputDialog>
#include <QJsonObject>
#include <QLabel>
#include <QMessageBox>
#include <QShortcut>
#include <QToolButton>

MacroBar::MacroBar(QWidget *scope, QWidget *parent)
    : QWidget(parent), m_scope(scope), m_buttons(new QHBoxLayout)
{
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(new QLabel(tr("Macros")));
    layout->addLayout(m_buttons);
    auto *add = new QToolButton;
    add->setText(QStringLiteral("+"));
    add->setToolTip(tr("Add a macro: a name, then its bytes as text (\\r \\n \\t \\xNN) or as \"hex: 01 02\""));
    connect(add, &QToolButton::clicked, this, &MacroBar::askForMacro);
    layout->addWidget(add);
    layout->addStretch(1);
}

bool MacroBar::bytesOf(const QString &text, QByteArray *out, QString *why)
{
    if (text.startsWith(QLatin1String("hex:")))
        return HexCodec::decode(text.mid(4).trimmed().toLatin1(), out, why);
    if (HexCodec::unescape(text, out))
        return true;
    *why = tr("a broken escape: use \\r, \\n, \\t, \\\\ or \\xNN");
    return false;
}

bool MacroBar::addMacro(const QString &name, const QString &text, QString *why)
{
    Macro macro{name.trimmed(), text, {}};
    if (macro.name.isEmpty()) {
        *why = tr("a macro needs a name");
        return false;
    }
    if (!bytesOf(text, &macro.bytes, why))
        return false;
    m_macros.append(macro);
    rebuild();
    emit changed();
    return true;
}

void MacroBar::removeMacro(int index)
{
    if (index < 0 || index >= m_macros.size())
        return;
    m_macros.removeAt(index);
    rebuild();
    emit changed();
}

void MacroBar::trigger(int index)
{
    if (index >= 0 && index < m_macros.size())
        emit triggered(m_macros.at(index).bytes, m_macros.at(index).name);
}

QJsonArray MacroBar::rows() const
{
    QJsonArray out;
    for (const Macro &macro : m_macros)
        out.append(QJsonObject{{QStringLiteral("name"), macro.name}, {QStringLiteral("text"), macro.text}});
    return out;
}

// Rows that do not read (a file edited by hand) are left out.
void MacroBar::setRows(const QJsonArray &rows)
{
    m_macros.clear();
    for (const QJsonValue &row : rows) {
        Macro macro{row[QStringLiteral("name")].toString(), row[QStringLiteral("text")].toString(), {}};
        QString why;
        if (!macro.name.isEmpty() && bytesOf(macro.text, &macro.bytes, &why))
            m_macros.append(macro);
    }
    rebuild();
}

void MacroBar::askForMacro()
{
    bool ok = false;
    const QString name = QInputDialog::getText(this, tr("Add macro"), tr("Name:"), QLineEdit::Normal, QString(), &ok);
    if (!ok)
        return;
    const QString text = QInputDialog::getText(this, tr("Add macro"),
                                               tr("Bytes, as text (\\r \\n \\t \\xNN) or as \"hex: 01 02\":"),
                                               QLineEdit::Normal, QString(), &ok);
    QString why;
    if (ok && !addMacro(name, text, &why))
        QMessageBox::warning(this, tr("Add macro"), tr("The macro was not added: %1.").arg(why));
}

// The old buttons go later: a removal comes from inside one of their signals.
void MacroBar::rebuild()
{
    for (QObject *made : qAsConst(m_made)) {
        if (auto *widget = qobject_cast<QWidget *>(made))
            widget->hide();
        else if (auto *shortcut = qobject_cast<QShortcut *>(made))
            shortcut->setEnabled(false);
        made->deleteLater();
    }
    m_made.clear();
    for (int i = 0; i < m_macros.size(); ++i) {
        auto *button = new QToolButton;
        button->setText(m_macros.at(i).name);
        QString tip = tr("Sends %1 (right-click removes it)").arg(m_macros.at(i).text);
        if (i < 9) {
            const QKeySequence key(QStringLiteral("Ctrl+%1").arg(i + 1));
            auto *shortcut = new QShortcut(key, m_scope, nullptr, nullptr, Qt::WidgetWithChildrenShortcut);
            connect(shortcut, &QShortcut::activated, this, [this, i] { trigger(i); });
            m_made.append(shortcut);
            tip += QStringLiteral(" [%1]").arg(key.toString(QKeySequence::NativeText));
        }
        button->setToolTip(tip);
        button->setContextMenuPolicy(Qt::CustomContextMenu);
        connect(button, &QToolButton::clicked, this, [this, i] { trigger(i); });
        connect(button, &QToolButton::customContextMenuRequested, this, [this, i] { removeMacro(i); });
        m_buttons->addWidget(button);
        m_made.append(button);
    }
}
