#include "gui/TerminalPane.h"

#include "core/PCom_CanFrameType.h"
#include "core/PCom_LinkStatus.h"
#include "gui/CanFrameTable.h"
#include "gui/Coalescer.h"
#include "gui/FileSender.h"
#include "gui/StreamView.h"
#include "host/Plugin_Com_Port.h"
#include "hostlib/CanLineParser.h"
#include "hostlib/HexCodec.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

namespace {
const int readChunk = 64 * 1024;
// Frames taken per event-loop turn at most.
const int framesPerRead = 10000;
const unsigned int errorFrameId = 0xFFFFFFFF;
}

TerminalPane::TerminalPane(Plugin_Com_Port *port, QWidget *parent)
    : QWidget(parent), m_port(port), m_scrollback(new QSpinBox), m_counters(new QLabel), m_state(new QLabel),
      m_input(new QLineEdit), m_send(new QPushButton(tr("Send"))),
      m_countersUpdate(new Coalescer([this] { showCounters(); }, 100, this)), m_buffer(readChunk, '\0')
{
    auto *top = new QHBoxLayout;
    auto *bottom = new QHBoxLayout;
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(top);
    m_scrollback->setRange(100, 1000000);
    m_scrollback->setSingleStep(1000);
    m_scrollback->setValue(10000);
    m_scrollback->setToolTip(tr("Lines kept in the scrollback"));
    if (isCan()) {
        m_frames = new CanFrameTable;
        layout->addWidget(m_frames, 1);
        m_input->setPlaceholderText(tr("Frame as ID#DATA, e.g. 123#DEADBEEF or 1F334455#11.22.33"));
    } else {
        m_stream = new StreamView;
        layout->addWidget(m_stream, 1);
        m_mode = new QComboBox;
        m_mode->addItems({tr("Text"), tr("Hex")});
        connect(m_mode, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
                [this](int index) { m_stream->setMode(index ? StreamView::Hex : StreamView::Text); });
        m_timestamps = new QCheckBox(tr("Timestamps"));
        connect(m_timestamps, &QCheckBox::toggled, this, [this](bool on) { m_stream->setTimestamps(on); });
        top->addWidget(m_mode);
        top->addWidget(m_timestamps);
        m_ending = new QComboBox;
        m_ending->addItems({tr("LF"), tr("CR LF"), tr("CR"), tr("None")});
        m_ending->setToolTip(tr("Line ending added to every line sent"));
        m_hexInput = new QCheckBox(tr("Hex"));
        m_hexInput->setToolTip(tr("Send the line as hex digit pairs, e.g. DE AD 0xBEEF"));
        m_sendFile = new QPushButton(tr("Send file..."));
        m_progress = new QProgressBar;
        m_progress->hide();
        connect(m_sendFile, &QPushButton::clicked, this, &TerminalPane::sendFile);
        m_input->setPlaceholderText(tr("Line to send"));
    }
    top->addWidget(new QLabel(tr("Scrollback")));
    top->addWidget(m_scrollback);
    top->addStretch(1);
    top->addWidget(m_state);
    top->addWidget(m_counters);
    connect(m_scrollback, QOverload<int>::of(&QSpinBox::valueChanged), this, &TerminalPane::setScrollback);

    layout->addLayout(bottom);
    bottom->addWidget(m_input, 1);
    if (m_ending) {
        bottom->addWidget(m_ending);
        bottom->addWidget(m_hexInput);
    }
    bottom->addWidget(m_send);
    if (m_sendFile) {
        bottom->addWidget(m_sendFile);
        bottom->addWidget(m_progress);
    }
    connect(m_input, &QLineEdit::returnPressed, this, &TerminalPane::sendLine);
    connect(m_send, &QPushButton::clicked, this, &TerminalPane::sendLine);

    connect(port, &Plugin_Com_Port::readyRead, this, &TerminalPane::readPort);
    connect(port, &AbstractTreeItem::dataChanged, this, &TerminalPane::updateState);
    if (qobject_cast<PCom_LinkStatus *>(port))
        connect(port, SIGNAL(linkLost(QString)), this, SLOT(updateState()));
    updateState();
    count(0, 0);
}

bool TerminalPane::isCan() const
{
    return m_port->usesFrameIds();
}

QString TerminalPane::shownText() const
{
    if (m_stream)
        return m_stream->toPlainText();
    QStringList rows;
    for (int row = 0; row < m_frames->rowCount(); ++row) {
        QStringList cells;
        for (int column = 0; column < m_frames->columnCount(); ++column)
            cells.append(m_frames->item(row, column)->text());
        rows.append(cells.join(QLatin1Char('\t')));
    }
    return rows.join(QLatin1Char('\n'));
}

void TerminalPane::setScrollback(int lines)
{
    m_scrollback->setValue(lines);
    if (m_stream)
        m_stream->setScrollback(lines);
    else
        m_frames->setScrollback(lines);
}

void TerminalPane::setHexView(bool hex)
{
    if (m_mode)
        m_mode->setCurrentIndex(hex ? 1 : 0);
}

void TerminalPane::readPort()
{
    char *buffer = m_buffer.data();
    qint64 received = 0;
    if (isCan()) {
        for (int i = 0; i < framesPerRead; ++i) {
            unsigned int id = 0;
            const int n = m_port->readRawData(buffer, m_buffer.size(), &id);
            if (n < 0 && id == errorFrameId)
                continue;
            if (n < 0)
                break;
            m_frames->append(id, QByteArray(buffer, n));
            received += n;
            // The CAN device announces new frames only: the rest are read next turn.
            if (i == framesPerRead - 1)
                QMetaObject::invokeMethod(this, &TerminalPane::readPort, Qt::QueuedConnection);
        }
    } else {
        // The port reads ahead a bounded amount, so this ends.
        for (;;) {
            const int n = m_port->readRawData(buffer, m_buffer.size());
            if (n <= 0)
                break;
            m_stream->append(QByteArray(buffer, n));
            received += n;
        }
    }
    count(received, 0);
}

void TerminalPane::sendLine()
{
    const QString text = m_input->text();
    QByteArray data;
    QString error;
    if (isCan()) {
        QCanBusFrame frame;
        if (!CanLineParser::parse(text.toLatin1(), &frame, &error)) {
            showStatus(error);
            return;
        }
        // Whole frames (extended identifiers, remote requests) through the
        // CAN port's own call.
        bool sent = false;
        QMetaObject::invokeMethod(m_port, "writeFrame", Qt::DirectConnection, Q_RETURN_ARG(bool, sent),
                                  Q_ARG(QCanBusFrame, frame));
        const int n = sent ? frame.payload().size() : -1;
        if (n < 0) {
            showStatus(tr("The port refused the frame."));
            return;
        }
        count(0, n);
    } else {
        if (m_hexInput->isChecked()) {
            if (!HexCodec::decode(text.toLatin1(), &data, &error)) {
                showStatus(error);
                return;
            }
        } else {
            static const char *const endings[] = {"\n", "\r\n", "\r", ""};
            data = text.toUtf8() + endings[m_ending->currentIndex()];
        }
        write(data);
    }
    m_input->clear();
}

void TerminalPane::write(const QByteArray &data)
{
    const int n = m_port->writeRawData(data.constData(), data.size());
    if (n < data.size())
        showStatus(tr("%1 of %2 bytes were sent.").arg(qMax(n, 0)).arg(data.size()));
    else
        showStatus(QString());
    count(0, qMax(n, 0));
}

void TerminalPane::sendFile()
{
    if (m_sender)
        return;
    const QString fileName = QFileDialog::getOpenFileName(this, tr("Send file"));
    if (fileName.isEmpty())
        return;
    auto *sender = new FileSender(m_port, this);
    QString error;
    if (!sender->start(fileName, &error)) {
        showStatus(error);
        delete sender;
        return;
    }
    m_sender = sender;
    m_progress->setRange(0, 1000);
    m_progress->setValue(0);
    m_progress->show();
    connect(sender, &FileSender::written, this, [this](qint64 n) { count(0, n); });
    connect(sender, &FileSender::progress, this, [this](qint64 done, qint64 total) {
        m_progress->setValue(total > 0 ? int(done * 1000 / total) : 1000);
    });
    connect(sender, &FileSender::finished, this, [this, sender](const QString &why) {
        m_sender.clear();
        sender->deleteLater();
        m_progress->hide();
        m_sendFile->setEnabled(m_port->opened());
        showStatus(why.isEmpty() ? tr("File sent (%1 bytes).").arg(sender->total()) : why);
    });
    updateState();
}

void TerminalPane::updateState()
{
    const bool open = m_port->opened();
    auto *status = qobject_cast<PCom_LinkStatus *>(m_port);
    QString state = open ? tr("open") : tr("closed");
    if (status && status->linkState() == PCom_LinkStatus::LinkState::Opening)
        state = tr("opening");
    if (status && !status->linkLostReason().isEmpty())
        state = tr("lost: %1").arg(status->linkLostReason());
    m_state->setText(state);
    m_input->setEnabled(open);
    m_send->setEnabled(open);
    if (m_sendFile)
        m_sendFile->setEnabled(open && !m_sender);
}

void TerminalPane::count(qint64 received, qint64 sent)
{
    m_received += received;
    m_sent += sent;
    m_countersUpdate->request();
}

void TerminalPane::showCounters()
{
    const QLocale locale;
    m_counters->setText(tr("RX %1 B  TX %2 B").arg(locale.toString(m_received), locale.toString(m_sent)));
}

void TerminalPane::showStatus(const QString &text)
{
    m_input->setToolTip(text);
    m_input->setStyleSheet(text.isEmpty() ? QString() : QStringLiteral("QLineEdit { border: 1px solid #c00; }"));
    if (!text.isEmpty())
        m_state->setText(text);
}
