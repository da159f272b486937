#include "gui/TerminalPane.h"

#include "core/PCom_LinkStatus.h"
#include "gui/CanFrameTable.h"
#include "gui/Coalescer.h"
#include "gui/StreamView.h"
#include "gui/TerminalEndpoint.h"
#include "host/Plugin_Com_Port.h"
#include "hostlib/Bridge.h"
#include "hostlib/CanLineParser.h"
#include "hostlib/HexCodec.h"
#include "hostlib/LogReceiver.h"
#include "hostlib/PluginHost.h"
#include "hostlib/PortLink.h"

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

TerminalPane::TerminalPane(Plugin_Com_Port *port, QWidget *parent)
    : QWidget(parent), m_port(port), m_scrollback(new QSpinBox), m_counters(new QLabel), m_state(new QLabel),
      m_input(new QLineEdit), m_send(new QPushButton(tr("Send"))),
      m_countersUpdate(new Coalescer([this] { showCounters(); }, 100, this))
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
        m_cancelFile = new QPushButton(tr("Cancel"));
        m_cancelFile->setToolTip(tr("Stop sending the file"));
        m_cancelFile->hide();
        m_progress = new QProgressBar;
        m_progress->hide();
        connect(m_sendFile, &QPushButton::clicked, this, &TerminalPane::chooseFile);
        connect(m_cancelFile, &QPushButton::clicked, this, &TerminalPane::cancelFile);
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
        bottom->addWidget(m_cancelFile);
    }
    connect(m_input, &QLineEdit::returnPressed, this, &TerminalPane::sendLine);
    connect(m_send, &QPushButton::clicked, this, &TerminalPane::sendLine);

    connect(port, &AbstractTreeItem::dataChanged, this, &TerminalPane::updateState);
    if (PCom_LinkStatus *status = PluginHost::linkStatus(port))
        connect(status, &PCom_LinkStatus::linkLost, this, &TerminalPane::updateState);
    updateState();
    count(0, 0);
}

// The port goes after its pane: the bridge must not outlive it.
TerminalPane::~TerminalPane()
{
    if (m_bridge)
        m_bridge->abort();
    delete m_bridge;
    delete m_link;
    delete m_endpoint;
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

void TerminalPane::startBridge()
{
    m_link = new PortLink(m_port, m_port->typeKey());
    m_endpoint = new TerminalEndpoint(m_stream, m_frames);
    m_bridge = new Bridge(m_link, m_endpoint, 0);
    m_bridge->setFinalStats(false);
    connect(m_endpoint, &TerminalEndpoint::shown, this, [this](qint64 n) { count(n, 0); });
    connect(m_endpoint, &TerminalEndpoint::sent, this, [this](qint64 n) { count(0, n); });
    connect(m_endpoint, &TerminalEndpoint::fileProgress, this, [this](qint64 done, qint64 total) {
        m_progress->setValue(total > 0 ? int(done * 1000 / total) : 1000);
    });
    connect(m_endpoint, &TerminalEndpoint::fileFinished, this, [this](const QString &message) {
        m_progress->hide();
        m_cancelFile->hide();
        if (!message.isEmpty())
            LogReceiver::post(QStringLiteral("warning"), QStringLiteral("pcom-gui: %1").arg(message));
        showStatus(message.isEmpty() ? tr("File sent (%1 bytes).").arg(m_endpoint->fileSize()) : message);
        updateState();
    });
    connect(m_bridge, &Bridge::finished, this, &TerminalPane::endBridge);
    m_bridge->start();
}

// Runs inside the bridge's last signal: the ends go when the loop is back.
void TerminalPane::endBridge()
{
    m_bridge->deleteLater();
    m_link->deleteLater();
    m_endpoint->deleteLater();
    m_bridge = nullptr;
    m_link = nullptr;
    m_endpoint = nullptr;
    updateState();
}

void TerminalPane::sendLine()
{
    const QString text = m_input->text();
    QString error;
    bool sent = false;
    if (!m_endpoint) {
        error = tr("The port is not open.");
    } else if (isCan()) {
        // Whole frames (extended identifiers, remote requests) with every flag.
        QCanBusFrame frame;
        sent = CanLineParser::parse(text.toLatin1(), &frame, &error) && m_endpoint->sendFrame(frame, &error);
    } else {
        QByteArray data;
        if (m_hexInput->isChecked()) {
            sent = HexCodec::decode(text.toLatin1(), &data, &error);
        } else {
            static const char *const endings[] = {"\n", "\r\n", "\r", ""};
            data = text.toUtf8() + endings[m_ending->currentIndex()];
            sent = true;
        }
        sent = sent && m_endpoint->sendBytes(data, &error);
    }
    showStatus(sent ? QString() : error);
    // What was not sent stays for another try.
    if (sent)
        m_input->clear();
}

void TerminalPane::chooseFile()
{
    const QString fileName = QFileDialog::getOpenFileName(this, tr("Send file"));
    if (!fileName.isEmpty())
        sendFile(fileName);
}

bool TerminalPane::sendFile(const QString &fileName)
{
    QString error;
    if (!m_endpoint || !m_endpoint->sendFile(fileName, &error)) {
        showStatus(m_endpoint ? error : tr("The port is not open."));
        return false;
    }
    m_progress->setRange(0, 1000);
    m_progress->setValue(0);
    m_progress->show();
    m_cancelFile->show();
    updateState();
    return true;
}

void TerminalPane::cancelFile()
{
    if (m_endpoint)
        m_endpoint->cancelFile();
}

void TerminalPane::updateState()
{
    const bool open = m_port->opened();
    if (open && !m_bridge)
        startBridge();
    else if (!open && m_bridge && !m_link->isClosing())
        m_bridge->stop(0);
    const PCom_LinkStatus *status = PluginHost::linkStatus(m_port);
    QString state = open ? tr("open") : tr("closed");
    if (status && status->linkState() == PCom_LinkStatus::LinkState::Opening)
        state = tr("opening");
    if (status && !status->linkLostReason().isEmpty())
        state = tr("lost: %1").arg(status->linkLostReason());
    m_state->setText(state);
    m_input->setEnabled(open);
    m_send->setEnabled(open);
    if (m_sendFile)
        m_sendFile->setEnabled(open && !(m_endpoint && m_endpoint->isSendingFile()));
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
