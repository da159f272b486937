#include "gui/CanBusHealth.h"

#include "core/PCom_CanFrames.h"

#include <QTimer>

namespace {
const int tickMs = 1000;
// SocketCAN's class bit for error frames that carry the transmit and receive
// error counters in their bytes 6 and 7; Qt names no flag for it.
const quint32 countersClass = 0x200;

struct ErrorClass {
    QCanBusFrame::FrameError flag;
    const char *name;
};
const ErrorClass errorClasses[] = {
    {QCanBusFrame::TransmissionTimeoutError, "TX timeout"},
    {QCanBusFrame::LostArbitrationError, "arbitration lost"},
    {QCanBusFrame::ControllerError, "controller"},
    {QCanBusFrame::ProtocolViolationError, "protocol"},
    {QCanBusFrame::TransceiverError, "transceiver"},
    {QCanBusFrame::MissingAcknowledgmentError, "no ACK"},
    {QCanBusFrame::BusOffError, "bus off"},
    {QCanBusFrame::BusError, "bus error"},
    {QCanBusFrame::ControllerRestartError, "restarted"},
};
}

CanBusHealth::CanBusHealth(PCom_CanFrames *frames, QWidget *parent)
    : QLabel(parent), m_frames(frames), m_tick(new QTimer(this))
{
    // Wraps in a narrow pane rather than widening it; the tooltip has it too.
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    setWordWrap(true);
    connect(m_tick, &QTimer::timeout, this, &CanBusHealth::tick);
    m_tick->start(tickMs);
    showState();
}

QString CanBusHealth::statusText(QCanBusDevice::CanBusStatus status)
{
    switch (status) {
    case QCanBusDevice::CanBusStatus::Good:
        return tr("error active");
    case QCanBusDevice::CanBusStatus::Warning:
        return tr("warning");
    case QCanBusDevice::CanBusStatus::Error:
        return tr("error passive");
    case QCanBusDevice::CanBusStatus::BusOff:
        return tr("bus off");
    case QCanBusDevice::CanBusStatus::Unknown:
        break;
    }
    return tr("unknown");
}

void CanBusHealth::append(const QCanBusFrame &frame)
{
    ++m_thisSecond;
    if (frame.frameType() != QCanBusFrame::ErrorFrame)
        return;
    for (const ErrorClass &kind : errorClasses) {
        if (frame.error() & kind.flag)
            ++m_errors[kind.flag];
    }
    const QByteArray data = frame.payload();
    if ((quint32(frame.error()) & countersClass) && data.size() >= 8)
        m_counters = tr("TEC %1, REC %2").arg(quint8(data.at(6))).arg(quint8(data.at(7)));
    showState();
}

void CanBusHealth::clearCounts()
{
    m_errors.clear();
    m_counters.clear();
    showState();
}

void CanBusHealth::tick()
{
    m_rate = m_thisSecond;
    m_thisSecond = 0;
    showState();
}

void CanBusHealth::showState()
{
    const QCanBusDevice::CanBusStatus status =
        m_frames ? m_frames->busStatus() : QCanBusDevice::CanBusStatus::Unknown;
    QStringList errors;
    for (const ErrorClass &kind : errorClasses) {
        if (m_errors.value(kind.flag) > 0)
            errors.append(QStringLiteral("%1 %2").arg(QLatin1String(kind.name)).arg(m_errors.value(kind.flag)));
    }
    if (!m_counters.isEmpty())
        errors.append(m_counters);
    const QString text = tr("Bus: %1   %2 frames/s   error frames: %3")
                             .arg(statusText(status))
                             .arg(m_rate)
                             .arg(errors.isEmpty() ? tr("none") : errors.join(QStringLiteral(", ")));
    setText(text);
    setToolTip(text);
}
