#include "gui/SerialSettingsPanel.h"

#include "core/PCom_SerialLine.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QVBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSerialPort>
#include <QSignalBlocker>
#include <QTimer>

namespace {
const int modemPollMs = 500;
const int breakMs = 250;
}

SerialSettingsPanel::SerialSettingsPanel(PCom_SerialLine *line, QWidget *parent)
    : QWidget(parent), m_line(line), m_dataBits(new QComboBox), m_parity(new QComboBox), m_stopBits(new QComboBox),
      m_flow(new QComboBox), m_dtr(new QCheckBox(tr("DTR"))), m_rts(new QCheckBox(tr("RTS"))),
      m_break(new QCheckBox(tr("Break"))), m_modem(new QLabel), m_message(new QLabel), m_poll(new QTimer(this))
{
    m_dataBits->addItems({QStringLiteral("5"), QStringLiteral("6"), QStringLiteral("7"), QStringLiteral("8")});
    m_parity->addItems({QStringLiteral("none"), QStringLiteral("even"), QStringLiteral("odd"), QStringLiteral("space"),
                        QStringLiteral("mark")});
    m_stopBits->addItems({QStringLiteral("1"), QStringLiteral("1.5"), QStringLiteral("2")});
    m_flow->addItems({QStringLiteral("none"), QStringLiteral("rtscts"), QStringLiteral("xonxoff")});
    m_dataBits->setToolTip(tr("Data bits"));
    m_parity->setToolTip(tr("Parity"));
    m_stopBits->setToolTip(tr("Stop bits"));
    m_flow->setToolTip(tr("Flow control"));
    m_break->setToolTip(tr("Hold the transmit line in the break state"));
    m_dtr->setToolTip(tr("Data Terminal Ready"));
    m_rts->setToolTip(tr("Request to Send"));
    m_modem->setToolTip(tr("The modem lines that are on: Clear To Send, Data Set Ready, Data Carrier Detect, Ring Indicator"));
    auto *pulse = new QPushButton(tr("Send break"));
    pulse->setToolTip(tr("Send a break of %1 ms").arg(breakMs));
    m_message->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    m_message->setStyleSheet(QStringLiteral("color: #c00"));

    const auto choice = QOverload<int>::of(&QComboBox::activated);
    connect(m_dataBits, choice, this, [this] { QString r; apply(m_line->setDataBits(m_dataBits->currentText().toInt(), &r), r); });
    connect(m_parity, choice, this, [this] { QString r; apply(m_line->setParity(m_parity->currentText(), &r), r); });
    connect(m_stopBits, choice, this, [this] { QString r; apply(m_line->setStopBits(m_stopBits->currentText(), &r), r); });
    connect(m_flow, choice, this, [this] { QString r; apply(m_line->setFlowControl(m_flow->currentText(), &r), r); });
    connect(m_dtr, &QCheckBox::clicked, this, [this](bool on) { QString r; apply(m_line->setDataTerminalReady(on, &r), r); });
    connect(m_rts, &QCheckBox::clicked, this, [this](bool on) { QString r; apply(m_line->setRequestToSend(on, &r), r); });
    connect(m_break, &QCheckBox::clicked, this, [this](bool on) { QString r; apply(m_line->setBreakEnabled(on, &r), r); });
    connect(pulse, &QPushButton::clicked, this, [this] { QString r; apply(m_line->sendBreak(breakMs, &r), r); });
    m_poll->setInterval(modemPollMs);
    connect(m_poll, &QTimer::timeout, this, [this] { m_modem->setText(modemText()); });

    // Two rows, so that a terminal of moderate width cuts nothing: the line's
    // format, then its control and modem lines.
    auto *format = new QHBoxLayout;
    const QList<QPair<QString, QComboBox *>> boxes{
        {tr("Data bits"), m_dataBits}, {tr("Parity"), m_parity}, {tr("Stop bits"), m_stopBits}, {tr("Flow"), m_flow}};
    for (const auto &box : boxes) {
        auto *label = new QLabel(box.first);
        label->setBuddy(box.second);
        format->addWidget(label);
        format->addWidget(box.second);
    }
    format->addStretch(1);
    auto *control = new QHBoxLayout;
    for (QWidget *widget : std::initializer_list<QWidget *>{m_dtr, m_rts, m_break, pulse, m_modem})
        control->addWidget(widget);
    control->addWidget(m_message, 1);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addLayout(format);
    layout->addLayout(control);
    refresh();
}

void SerialSettingsPanel::refresh()
{
    const QSignalBlocker blocks[] = {QSignalBlocker(m_dataBits), QSignalBlocker(m_parity), QSignalBlocker(m_stopBits),
                                     QSignalBlocker(m_flow)};
    Q_UNUSED(blocks)
    m_dataBits->setCurrentText(QString::number(m_line->dataBits()));
    m_parity->setCurrentText(m_line->parity());
    m_stopBits->setCurrentText(m_line->stopBits());
    m_flow->setCurrentText(m_line->flowControl());
    m_dtr->setChecked(m_line->isDataTerminalReady());
    m_rts->setChecked(m_line->isRequestToSend());
    m_break->setChecked(m_line->isBreakEnabled());
    m_modem->setText(modemText());
    // Read only while there are lines to read: an idle window does not wake up.
    if (m_line->modemLines() >= 0)
        m_poll->start();
    else
        m_poll->stop();
}

QString SerialSettingsPanel::message() const
{
    return m_message->text();
}

QString SerialSettingsPanel::modemText() const
{
    const int lines = m_line->modemLines();
    if (lines < 0)
        return tr("modem lines: -");
    const QList<QPair<int, QString>> names{{QSerialPort::ClearToSendSignal, QStringLiteral("CTS")},
                                           {QSerialPort::DataSetReadySignal, QStringLiteral("DSR")},
                                           {QSerialPort::DataCarrierDetectSignal, QStringLiteral("DCD")},
                                           {QSerialPort::RingIndicatorSignal, QStringLiteral("RI")}};
    QStringList on;
    for (const auto &name : names) {
        if (lines & name.first)
            on.append(name.second);
    }
    return tr("modem lines: %1").arg(on.isEmpty() ? tr("none") : on.join(QLatin1Char(' ')));
}

void SerialSettingsPanel::apply(bool ok, const QString &reason)
{
    m_message->setText(ok ? QString() : reason);
    m_message->setToolTip(m_message->text());
    refresh();
}
