#include "gui/LogPane.h"

#include <QApplication>
#include <QClipboard>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QListWidget>
#include <QMessageBox>
#include <QSaveFile>
#include <QScrollBar>
#include <QTime>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

const int maxLines = 10000;
const int kindRole = Qt::UserRole;

QColor colourOf(const QString &kind)
{
    if (kind == QLatin1String("error") || kind == QLatin1String("critical"))
        return QColor(0xc0, 0x10, 0x10);
    if (kind == QLatin1String("warning"))
        return QColor(0x99, 0x55, 0x00);
    if (kind == QLatin1String("progress"))
        return QColor(0x10, 0x50, 0xb0);
    // Each reads well on a button (contrast 4.5:1 or more); a grey filter
    // button would read as a disabled one.
    if (kind == QLatin1String("trace"))
        return QColor(0x60, 0x40, 0x90);
    return QColor(0x20, 0x20, 0x20);
}

} // namespace

LogPane::LogPane(QWidget *parent)
    : QWidget(parent), m_list(new QListWidget)
{
    m_list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_list->setUniformItemSizes(true);
    auto *bar = new QHBoxLayout;
    for (const QString &kind : kinds()) {
        auto *button = new QToolButton;
        button->setText(kind);
        button->setCheckable(true);
        button->setChecked(true);
        button->setToolTip(tr("Show %1 lines").arg(kind));
        QPalette palette = button->palette();
        palette.setColor(QPalette::ButtonText, colourOf(kind));
        button->setPalette(palette);
        connect(button, &QToolButton::toggled, this, [this, kind](bool on) { setKindShown(kind, on); });
        bar->addWidget(button);
    }
    bar->addStretch(1);
    auto *copy = new QToolButton;
    copy->setText(tr("Copy"));
    connect(copy, &QToolButton::clicked, this, &LogPane::copySelection);
    auto *save = new QToolButton;
    save->setText(tr("Save..."));
    connect(save, &QToolButton::clicked, this, [this] {
        const QString fileName = QFileDialog::getSaveFileName(this, tr("Save log"), QString(), tr("Text (*.txt *.log)"));
        QString error;
        if (!fileName.isEmpty() && !this->save(fileName, &error))
            QMessageBox::warning(this, tr("Save log"), error);
    });
    auto *clear = new QToolButton;
    clear->setText(tr("Clear"));
    connect(clear, &QToolButton::clicked, m_list, &QListWidget::clear);
    bar->addWidget(copy);
    bar->addWidget(save);
    bar->addWidget(clear);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addLayout(bar);
    layout->addWidget(m_list, 1);
}

QStringList LogPane::kinds()
{
    return {QStringLiteral("error"),    QStringLiteral("critical"), QStringLiteral("warning"),
            QStringLiteral("progress"), QStringLiteral("info"),     QStringLiteral("trace")};
}

void LogPane::addLine(const QString &kind, const QString &text)
{
    const QScrollBar *bar = m_list->verticalScrollBar();
    const bool atBottom = bar->value() == bar->maximum();
    auto *item = new QListWidgetItem(
        QStringLiteral("%1  %2: %3").arg(QTime::currentTime().toString(QStringLiteral("HH:mm:ss.zzz")), kind, text));
    item->setData(kindRole, kind);
    item->setForeground(colourOf(kind));
    m_list->addItem(item);
    item->setHidden(m_hidden.contains(kind));
    if (m_list->count() > maxLines)
        delete m_list->takeItem(0);
    if (atBottom)
        m_list->scrollToBottom();
}

QStringList LogPane::shownLines() const
{
    QStringList lines;
    for (int i = 0; i < m_list->count(); ++i) {
        const QListWidgetItem *item = m_list->item(i);
        if (!item->isHidden())
            lines.append(item->text().section(QLatin1String("  "), 1));
    }
    return lines;
}

void LogPane::setKindShown(const QString &kind, bool shown)
{
    if (shown)
        m_hidden.remove(kind);
    else
        m_hidden.insert(kind);
    for (int i = 0; i < m_list->count(); ++i) {
        QListWidgetItem *item = m_list->item(i);
        if (item->data(kindRole).toString() == kind)
            item->setHidden(!shown);
    }
}

bool LogPane::save(const QString &fileName, QString *error) const
{
    QSaveFile file(fileName);
    if (file.open(QIODevice::WriteOnly | QIODevice::Text)) {
        for (int i = 0; i < m_list->count(); ++i)
            file.write(m_list->item(i)->text().toUtf8() + '\n');
        if (file.commit())
            return true;
    }
    *error = tr("Cannot write %1: %2").arg(fileName, file.errorString());
    return false;
}

void LogPane::copySelection() const
{
    // Nothing selected copies every line shown.
    const bool all = m_list->selectedItems().isEmpty();
    QStringList lines;
    for (int i = 0; i < m_list->count(); ++i) {
        const QListWidgetItem *item = m_list->item(i);
        if ((all || item->isSelected()) && !item->isHidden())
            lines.append(item->text());
    }
    QApplication::clipboard()->setText(lines.join(QLatin1Char('\n')));
}
