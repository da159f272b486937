#include "gui/TerminalPane.h"

#include "core/PCom_CanFrames.h"
#include "core/PCom_LinkStatus.h"
#include "core/PCom_SerialLine.h"
#include "core/PCom_ServedClients.h"
#include "gui/CanBusHealth.h"
#include "gui/CanFrameTable.h"
#include "gui/CanIdView.h"
#include "gui/MacroBar.h"
#include "gui/ClientList.h"
#include "gui/Coalescer.h"
#include "gui/PeriodicSender.h"
#include "gui/PortLog.h"
#include "gui/SerialSettingsPanel.h"
#include "gui/StreamView.h"
#include "gui/TerminalEndpoint.h"
#include "gui/Workbench.h"
#include "host/Plugin_Com_Port.h"
#include "hostlib/Bridge.h"
#include "hostlib/CandumpReplay.h"
#include "hostlib/CanLineParser.h"
#include "hostlib/HexCodec.h"
#include "hostlib/LogReceiver.h"
#include "hostlib/PluginHost.h"
#include "hostlib/PortLink.h"
#include "hostlib/PortReader.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QProgressBar>
#include <QRegularExpression>
#include <QPushButton>
#include <QSpinBox>
#include <QSplitter>
#include <QTimer>
#include <QVBoxLayout>

namespace {
const int openingPollMs = 100;
const int historySize = 100;
const char *const endings[] = {"\n", "\r\n", "\r", ""};
const QString badInput = QStringLiteral("QLineEdit { border: 1px solid #c00; }");
}

TerminalPane::TerminalPane(Plugin_Com_Port *port, QWidget *parent)
    : QWidget(parent), m_port(port), m_scrollback(new QSpinBox), m_counters(new QLabel), m_state(new QLabel),
      m_status(new QLabel), m_input(new QLineEdit), m_find(new QLineEdit), m_send(new QPushButton(tr("Send"))),
      m_countersUpdate(new Coalescer([this] { showCounters(); }, 100, this)), m_openingPoll(new QTimer(this)),
      m_log(new PortLog(this))
{
    auto *top = new QHBoxLayout;
    auto *bottom = new QHBoxLayout;
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(top);
    m_scrollback->setRange(100, 1000000);
    m_scrollback->setSingleStep(1000);
    m_scrollback->setValue(10000);
    m_scrollback->setToolTip(tr("Lines kept in the scrollback"));
    layout->addWidget(isCan() ? buildCanControls() : buildStreamControls(), 1);
    if (m_mode) {
        top->addWidget(m_mode);
        top->addWidget(m_timestamps);
    }
    // A CAN trace shows what is sent anyway.
    m_echo = new QCheckBox(tr("Echo"));
    m_echo->setToolTip(tr("Show what is sent among what arrives"));
    m_echo->setVisible(m_stream != nullptr);
    top->addWidget(m_echo);
    if (m_charDelay) {
        top->addWidget(m_charDelay);
        top->addWidget(m_lineDelay);
    }
    top->addWidget(new QLabel(tr("Scrollback")));
    top->addWidget(m_scrollback);
    if (m_filters)
        top->addWidget(m_filters, 1);
    m_find->setPlaceholderText(tr("Find (Ctrl+F)"));
    m_find->setClearButtonEnabled(true);
    m_find->setMinimumWidth(120);
    connect(m_find, &QLineEdit::returnPressed, this, [this] { findNext(m_find->text()); });
    top->addStretch(1);
    top->addWidget(m_find);
    auto *clear = new QPushButton(tr("Clear"));
    clear->setToolTip(tr("Clear the view and zero the counts"));
    connect(clear, &QPushButton::clicked, this, &TerminalPane::clearView);
    top->addWidget(clear);
    // The link's state and the counts under the view; long texts are cut
    // rather than widening the pane, and whole in the tooltip.
    auto *info = new QHBoxLayout;
    layout->addLayout(info);
    m_state->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    m_state->setStyleSheet(QStringLiteral("font-weight: bold"));
    info->addWidget(m_state, 1);
    info->addWidget(m_counters);
    m_status->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    m_status->setStyleSheet(QStringLiteral("color: #c00"));
    layout->addWidget(m_status);
    m_status->hide();
    connect(m_scrollback, QOverload<int>::of(&QSpinBox::valueChanged), this, &TerminalPane::setScrollback);
    for (QCheckBox *box : {m_echo, m_timestamps, m_hexInput}) {
        if (box)
            connect(box, &QCheckBox::toggled, this, &TerminalPane::settingsChanged);
    }

    if (PCom_SerialLine *line = PluginHost::face<PCom_SerialLine>(port)) {
        m_serial = new SerialSettingsPanel(line);
        layout->insertWidget(1, m_serial);
    }
    if (m_macros)
        layout->addWidget(m_macros);
    layout->addLayout(bottom);
    bottom->addWidget(m_input, 1);
    if (m_ending) {
        bottom->addWidget(m_ending);
        bottom->addWidget(m_hexInput);
    }
    bottom->addWidget(m_send);
    for (QWidget *widget : qAsConst(m_besideSend))
        bottom->addWidget(widget);
    m_input->installEventFilter(this);
    m_input->setToolTip(tr("Return sends; Up and Down go through what was sent"));
    connect(m_input, &QLineEdit::returnPressed, this, &TerminalPane::sendLine);
    connect(m_send, &QPushButton::clicked, this, &TerminalPane::sendLine);

    // The link says nothing when it gets from opening to open: ask until it is.
    m_openingPoll->setInterval(openingPollMs);
    connect(m_openingPoll, &QTimer::timeout, this, &TerminalPane::updateState);
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

QWidget *TerminalPane::buildStreamControls()
{
    m_stream = new StreamView;
    m_mode = new QComboBox;
    m_mode->addItems({tr("Text"), tr("Hex")});
    connect(m_mode, QOverload<int>::of(&QComboBox::currentIndexChanged), this, [this](int index) {
        m_stream->setMode(index ? StreamView::Hex : StreamView::Text);
        emit settingsChanged();
    });
    m_timestamps = new QCheckBox(tr("Timestamps"));
    connect(m_timestamps, &QCheckBox::toggled, this, [this](bool on) { m_stream->setTimestamps(on); });
    m_ending = new QComboBox;
    m_ending->addItems({tr("LF"), tr("CR LF"), tr("CR"), tr("None")});
    m_ending->setToolTip(tr("Line ending added to every line sent"));
    connect(m_ending, QOverload<int>::of(&QComboBox::currentIndexChanged), this, &TerminalPane::settingsChanged);
    m_hexInput = new QCheckBox(tr("Hex"));
    m_hexInput->setToolTip(tr("Send the line as hex digit pairs, e.g. DE AD 0xBEEF"));
    // A slow device's pace: a pause after each byte, and after each line.
    m_charDelay = new QSpinBox;
    m_lineDelay = new QSpinBox;
    for (QSpinBox *delay : {m_charDelay, m_lineDelay}) {
        delay->setRange(0, 10000);
        delay->setSuffix(delay == m_charDelay ? tr(" ms/char") : tr(" ms/line"));
        connect(delay, QOverload<int>::of(&QSpinBox::valueChanged), this, &TerminalPane::applyDelays);
        connect(delay, QOverload<int>::of(&QSpinBox::valueChanged), this, &TerminalPane::settingsChanged);
    }
    m_charDelay->setToolTip(tr("Pause after each byte sent"));
    m_lineDelay->setToolTip(tr("Further pause after each line end sent"));
    m_macros = new MacroBar(this);
    connect(m_macros, &MacroBar::changed, this, &TerminalPane::settingsChanged);
    connect(m_macros, &MacroBar::triggered, this, [this](const QByteArray &bytes, const QString &name) {
        QString error;
        showStatus(sendData(bytes, QStringLiteral("[%1]").arg(name), &error) ? QString() : error);
    });
    m_sendFile = new QPushButton(tr("Send file..."));
    m_cancelFile = new QPushButton(tr("Cancel"));
    m_cancelFile->setToolTip(tr("Stop sending the file"));
    m_cancelFile->hide();
    m_progress = new QProgressBar;
    m_progress->hide();
    m_besideSend = {m_sendFile, m_progress, m_cancelFile};
    connect(m_sendFile, &QPushButton::clicked, this, &TerminalPane::chooseFile);
    connect(m_cancelFile, &QPushButton::clicked, this, &TerminalPane::cancelFile);
    m_input->setPlaceholderText(tr("Line to send"));
    if (!PluginHost::face<PCom_ServedClients>(m_port))
        return m_stream;
    m_clients = new ClientList(PluginHost::face<PCom_ServedClients>(m_port));
    connect(m_clients, &ClientList::changed, this, &TerminalPane::updateState);
    auto *split = new QSplitter;
    split->addWidget(m_stream);
    split->addWidget(m_clients);
    // Room for a client's address; the bytes take what the pane gains.
    split->setSizes({600, 200});
    split->setStretchFactor(0, 1);
    split->setStretchFactor(1, 0);
    return split;
}

QWidget *TerminalPane::buildCanControls()
{
    m_frames = new CanFrameTable;
    m_idView = new CanIdView;
    m_health = new CanBusHealth(PluginHost::face<PCom_CanFrames>(m_port));
    m_periodic = new PeriodicSender;
    m_filters = new QLineEdit;
    m_filters->setPlaceholderText(tr("Filters, e.g. 100:7FF"));
    m_filters->setMinimumWidth(160);
    m_filters->setToolTip(tr("ID:MASK passes identifiers that agree with ID on the bits of MASK, ID~MASK the others; "
                             "none passes every frame. The log file keeps every frame."));
    connect(m_filters, &QLineEdit::editingFinished, this, [this] { setCanFilters(m_filters->text()); });
    // Periodic frames wait while the port is closed.
    connect(m_periodic, &PeriodicSender::frameDue, this, [this](const QCanBusFrame &frame) {
        QString why;
        if (m_endpoint)
            sendFrame(frame, &why);
    });
    connect(m_periodic, &PeriodicSender::rowsChanged, this, &TerminalPane::settingsChanged);
    auto *addPeriodic = new QPushButton(tr("Add periodic"));
    addPeriodic->setToolTip(tr("Send the frame in the input line every 100 ms (edit the period in the list)"));
    connect(addPeriodic, &QPushButton::clicked, this, [this] {
        m_periodic->addFrame(m_input->text().isEmpty() ? QStringLiteral("123#00") : m_input->text(), 100, false);
    });
    auto *replay = new QPushButton(tr("Replay log..."));
    replay->setToolTip(tr("Send the frames of a candump log (candump -L) with their gaps"));
    connect(replay, &QPushButton::clicked, this, [this] {
        const QString fileName = QFileDialog::getOpenFileName(this, tr("Replay a candump log"));
        if (!fileName.isEmpty())
            replayLog(fileName);
    });
    m_besideSend = {addPeriodic, replay};
    // The trace as wide as the pane, over the per-identifier view with the
    // periodic frames beside it; the bus line on top.
    auto *lower = new QSplitter;
    lower->addWidget(m_idView);
    lower->addWidget(m_periodic);
    lower->setSizes({500, 320});
    lower->setStretchFactor(0, 1);
    lower->setStretchFactor(1, 0);
    auto *views = new QSplitter(Qt::Vertical);
    views->addWidget(m_frames);
    views->addWidget(lower);
    views->setSizes({300, 200});
    views->setStretchFactor(0, 3);
    views->setStretchFactor(1, 2);
    auto *controls = new QWidget;
    auto *layout = new QVBoxLayout(controls);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_health);
    layout->addWidget(views, 1);
    m_input->setPlaceholderText(tr("Frame as ID#DATA, e.g. 123#DEADBEEF or 1F334455#11.22.33"));
    return controls;
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

QString TerminalPane::stateText() const
{
    return m_state->text();
}

QString TerminalPane::statusText() const
{
    return m_status->text();
}

void TerminalPane::setScrollback(int lines)
{
    m_scrollback->setValue(lines);
    if (m_stream)
        m_stream->setScrollback(lines);
    else
        m_frames->setScrollback(lines);
    emit settingsChanged();
}

void TerminalPane::setHexView(bool hex)
{
    if (m_mode)
        m_mode->setCurrentIndex(hex ? 1 : 0);
}

void TerminalPane::clearView()
{
    if (m_stream)
        m_stream->clearAll();
    if (m_frames) {
        m_frames->clearRows();
        m_idView->clearRows();
        m_health->clearCounts();
    }
    m_received = m_sent = 0;
    showCounters();
}

void TerminalPane::startFind()
{
    m_find->setFocus();
    m_find->selectAll();
}

bool TerminalPane::findNext(const QString &text)
{
    bool found = false;
    if (m_stream) {
        found = m_stream->findText(text);
    } else {
        const QList<QTableWidgetItem *> items = m_frames->findItems(text, Qt::MatchContains);
        const int from = m_frames->currentRow();
        for (QTableWidgetItem *item : items) {
            if (item->row() > from || item == items.last()) {
                m_frames->setCurrentItem(item);
                found = true;
                break;
            }
        }
    }
    m_find->setStyleSheet(found || text.isEmpty() ? QString() : badInput);
    return found;
}

bool TerminalPane::replayLog(const QString &fileName)
{
    QString error;
    auto *replay = new CandumpReplay(this);
    if (!m_endpoint || !replay->load(fileName, &error)) {
        delete replay;
        showStatus(m_endpoint ? error : tr("The port is not open."));
        return false;
    }
    delete m_replay;
    m_replay = replay;
    connect(replay, &CandumpReplay::frameDue, this, [this](const QCanBusFrame &frame) {
        QString why;
        if (!sendFrame(frame, &why))
            showStatus(why);
    });
    connect(replay, &CandumpReplay::finished, this, [this, fileName] {
        LogReceiver::post(QStringLiteral("info"), tr("pcom-gui: %1 replayed, %2 frames").arg(fileName).arg(m_replay->frameCount()));
        // Deleted from the event loop: this runs inside its own signal.
        m_replay->deleteLater();
        m_replay = nullptr;
    });
    showStatus(QString());
    replay->start();
    return true;
}

bool TerminalPane::setLogFile(const QString &fileName)
{
    m_log->close();
    if (fileName.isEmpty()) {
        emit settingsChanged();
        return true;
    }
    QString error;
    const bool opened = m_log->open(fileName, &error);
    showStatus(opened ? QString() : error);
    if (!opened)
        LogReceiver::post(QStringLiteral("warning"), QStringLiteral("pcom-gui: %1").arg(error));
    emit settingsChanged();
    return opened;
}

QString TerminalPane::logFile() const
{
    return m_log->isOpen() ? m_log->fileName() : QString();
}

bool TerminalPane::setCanFilters(const QString &text)
{
    QList<CanLineParser::Filter> filters;
    for (const QString &word : text.split(QRegularExpression(QStringLiteral("[,\\s]+")), Qt::SkipEmptyParts)) {
        CanLineParser::Filter filter;
        QString why;
        if (!CanLineParser::parseFilter(word, &filter, &why)) {
            showStatus(tr("'%1' is no filter: %2").arg(word, why));
            m_filters->setStyleSheet(badInput);
            return false;
        }
        filters.append(filter);
    }
    m_filters->setStyleSheet(QString());
    m_filters->setText(text);
    showStatus(QString());
    const bool changed = text != m_filterText;
    m_filterText = text;
    if (m_endpoint)
        m_endpoint->setFrameHook([this, filters](const QCanBusFrame &frame, bool sent) {
            if (!sent)
                m_health->append(frame);
            if (!sent && !CanLineParser::passes(filters, frame))
                return false;
            m_idView->append(frame, sent);
            return true;
        });
    if (changed)
        emit settingsChanged();
    return true;
}

QJsonObject TerminalPane::settings() const
{
    QJsonObject out{{QStringLiteral("scrollback"), m_scrollback->value()},
                    {QStringLiteral("echo"), m_echo->isChecked()},
                    {QStringLiteral("logFile"), logFile()}};
    if (m_stream) {
        out.insert(QStringLiteral("hex"), m_mode->currentIndex() == 1);
        out.insert(QStringLiteral("timestamps"), m_timestamps->isChecked());
        out.insert(QStringLiteral("lineEnding"), m_ending->currentIndex());
        out.insert(QStringLiteral("hexInput"), m_hexInput->isChecked());
        out.insert(QStringLiteral("charDelay"), m_charDelay->value());
        out.insert(QStringLiteral("lineDelay"), m_lineDelay->value());
        out.insert(QStringLiteral("macros"), m_macros->rows());
    } else {
        out.insert(QStringLiteral("filters"), m_filterText);
        out.insert(QStringLiteral("periodic"), m_periodic->rows());
    }
    return out;
}

void TerminalPane::applySettings(const QJsonObject &settings)
{
    setScrollback(settings.value(QStringLiteral("scrollback")).toInt(m_scrollback->value()));
    m_echo->setChecked(settings.value(QStringLiteral("echo")).toBool());
    if (m_stream) {
        setHexView(settings.value(QStringLiteral("hex")).toBool());
        m_timestamps->setChecked(settings.value(QStringLiteral("timestamps")).toBool());
        m_ending->setCurrentIndex(qBound(0, settings.value(QStringLiteral("lineEnding")).toInt(), 3));
        m_hexInput->setChecked(settings.value(QStringLiteral("hexInput")).toBool());
        m_charDelay->setValue(settings.value(QStringLiteral("charDelay")).toInt());
        m_lineDelay->setValue(settings.value(QStringLiteral("lineDelay")).toInt());
        m_macros->setRows(settings.value(QStringLiteral("macros")).toArray());
    } else {
        setCanFilters(settings.value(QStringLiteral("filters")).toString());
        m_periodic->setRows(settings.value(QStringLiteral("periodic")).toArray());
    }
    const QString log = settings.value(QStringLiteral("logFile")).toString();
    if (log != logFile())
        setLogFile(log);
}

bool TerminalPane::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_input && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent *>(event)->key();
        if (key == Qt::Key_Up || key == Qt::Key_Down) {
            recall(key == Qt::Key_Up ? -1 : 1);
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void TerminalPane::recall(int step)
{
    if (m_history.isEmpty())
        return;
    m_historyIndex = qBound(0, m_historyIndex + step, m_history.size());
    m_input->setText(m_history.value(m_historyIndex));
}

void TerminalPane::startBridge()
{
    m_link = new PortLink(m_port, m_port->typeKey());
    m_endpoint = new TerminalEndpoint(m_stream, m_frames);
    m_endpoint->setLog(m_log);
    applyDelays();
    m_lastClient = 0;
    if (m_stream && (m_clients || m_port->typeKey() == QLatin1String("udpClient")))
        m_endpoint->setNoteHook([this](int size) { return noteBefore(size); });
    if (m_frames)
        setCanFilters(m_filterText);
    if (m_frames)
        m_log->setInterfaceName(PortLog::interfaceOf(m_port->getTavlinProperty(QStringLiteral("device")).toString()));
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
        showStatus(message);
        updateState();
    });
    connect(m_bridge, &Bridge::finished, this, &TerminalPane::endBridge);
    m_bridge->start();
}

// Whose bytes come next: a server's client when it changes, a datagram
// always (each read of a UDP port is one).
QString TerminalPane::noteBefore(int size)
{
    if (!m_clients)
        return size == 1 ? tr("-- datagram, 1 byte") : tr("-- datagram, %1 bytes").arg(size);
    const int client = m_link->reader()->client();
    if (client == m_lastClient)
        return QString();
    m_lastClient = client;
    return QStringLiteral("-- %1").arg(m_clients->nameOf(client));
}

// Runs inside the bridge's last signal: the ends go when the loop is back.
void TerminalPane::endBridge()
{
    if (m_replay) {
        m_replay->deleteLater();
        m_replay = nullptr;
    }
    m_log->flush();
    m_bridge->deleteLater();
    m_link->deleteLater();
    m_endpoint->deleteLater();
    m_bridge = nullptr;
    m_link = nullptr;
    m_endpoint = nullptr;
    updateState();
}

bool TerminalPane::sendFrame(const QCanBusFrame &frame, QString *why)
{
    if (!m_endpoint) {
        *why = tr("The port is not open.");
        return false;
    }
    return m_endpoint->sendFrame(frame, why);
}

// A line or a macro; `echoed` is what the local echo shows for it.
bool TerminalPane::sendData(const QByteArray &data, const QString &echoed, QString *why)
{
    if (!m_endpoint) {
        *why = tr("The port is not open.");
        return false;
    }
    if (m_clients && PluginHost::face<PCom_ServedClients>(m_port)->clientCount() == 0) {
        *why = tr("No client is connected: the line was kept.");
        return false;
    }
    if (!m_endpoint->sendBytes(data, why))
        return false;
    if (m_echo->isChecked())
        m_stream->appendNote(QStringLiteral(">> %1").arg(echoed));
    return true;
}

void TerminalPane::applyDelays()
{
    if (m_endpoint && m_charDelay)
        m_endpoint->setDelays(m_charDelay->value(), m_lineDelay->value());
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
        sent = CanLineParser::parse(text.toLatin1(), &frame, &error) && sendFrame(frame, &error);
    } else {
        QByteArray data;
        if (m_hexInput->isChecked()) {
            sent = HexCodec::decode(text.toLatin1(), &data, &error);
        } else {
            data = text.toUtf8() + endings[m_ending->currentIndex()];
            sent = true;
        }
        sent = sent && sendData(data, text, &error);
    }
    showStatus(sent ? QString() : error);
    // What was not sent stays for another try.
    if (!sent)
        return;
    if (m_history.isEmpty() || m_history.last() != text)
        m_history.append(text);
    if (m_history.size() > historySize)
        m_history.removeFirst();
    m_historyIndex = m_history.size();
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
    const bool opening = open && status && status->linkState() == PCom_LinkStatus::LinkState::Opening;
    QString state = opening ? tr("opening") : open ? tr("open") : tr("closed");
    if (m_clients && open && !m_clients->summary().isEmpty())
        state = m_clients->summary();
    // A peer that ends the connection in order is a close like ours, not a failure.
    if (status && status->linkLoss() == PCom_LinkStatus::LossKind::PeerClosed)
        state = tr("closed by the peer");
    else if (status && status->linkLoss() == PCom_LinkStatus::LossKind::Failed)
        state = tr("lost: %1").arg(status->linkLostReason());
    // Said in the log too, so that an unattended session tells when its links came and went.
    if (state != m_state->text() && !m_state->text().isEmpty())
        LogReceiver::post(QStringLiteral("info"),
                          QStringLiteral("pcom-gui: %1 %2: %3").arg(m_port->typeKey(), Workbench::portLabel(m_port), state));
    m_state->setText(state);
    m_state->setToolTip(state);
    if (opening || (m_clients && open && m_clients->summary().isEmpty()))
        m_openingPoll->start();
    else
        m_openingPoll->stop();
    m_input->setEnabled(open);
    m_send->setEnabled(open);
    if (m_sendFile)
        m_sendFile->setEnabled(open && !(m_endpoint && m_endpoint->isSendingFile()));
    if (m_serial)
        m_serial->refresh();
    emit stateShown();
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

// A message of the last send or setting; the next good one clears it.
void TerminalPane::showStatus(const QString &text)
{
    m_input->setToolTip(text.isEmpty() ? tr("Return sends; Up and Down go through what was sent") : text);
    m_input->setStyleSheet(text.isEmpty() ? QString() : badInput);
    m_status->setText(text);
    m_status->setToolTip(text);
    m_status->setVisible(!text.isEmpty());
}
