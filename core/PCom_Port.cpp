#include "core/PCom_Port.h"

#include "core/PCom_Names.h"
#include "core/PCom_PortStatus.h"
#include "host/TavlinProperty_RegexValidator.h"

#include <QIntValidator>

namespace {
const Version kOpenEnd(-1, 0, 0);

void setShown(TavlinProperty *record, PCom_Port::Shown shown)
{
    switch (shown) {
    case PCom_Port::Shown::Always:
        break;
    case PCom_Port::Shown::From212:
        record->setSupportedVersion(Version(QStringLiteral("2.12")), kOpenEnd);
        break;
    case PCom_Port::Shown::From220:
        record->setSupportedVersion(Version(QStringLiteral("2.20")), kOpenEnd);
        break;
    case PCom_Port::Shown::UpTo210:
        record->setSupportedVersion(kOpenEnd, Version(QStringLiteral("2.10")));
        break;
    }
}

QValidator *makeValidator(PCom_Port::Check check)
{
    switch (check) {
    case PCom_Port::Check::PortNumber:
        return new QIntValidator(0, 65535, nullptr);
    case PCom_Port::Check::IpAddress:
        return new TavlinProperty_RegexValidator(TavlinProperty_RegexValidator::IpAddress);
    case PCom_Port::Check::None:
        break;
    }
    return nullptr;
}
}

PCom_Port::PCom_Port(Plugin_Com_Device *device, const QString &typeKey)
    : Plugin_Com_Port(device, typeKey), m_status(new PCom_PortStatus(this))
{
    m_pluginPort = true;
}

PCom_Port::~PCom_Port()
{
    delete m_status;
}

PCom_LinkStatus *PCom_Port::linkStatus() const
{
    return m_status;
}

void PCom_Port::declareRecords(const QVector<Record> &records, const QString &connectDescription,
                               Shown connectShown)
{
    addRecord({QStringLiteral("plugin"), TavlinProperty::FreeText, QString(), QStringLiteral("Plugin name"),
               Shown::From212, Access::Never, Check::None, {}, [this] { return QVariant(pluginText()); }, {}});
    for (const Record &row : records)
        addRecord(row);
    // Opening and closing go through openPrivate() and closePrivate(), not
    // through an apply function (see setTavlinProperty()).
    addRecord({QStringLiteral("connect"), TavlinProperty::Boolean, QStringLiteral("false"), connectDescription,
               connectShown, Access::Always, Check::None, {}, [this] { return QVariant(opened()); }, {}});
}

// Free-text fields checked by a validator are marked validated and not
// stored; every other record the other way round.
void PCom_Port::addRecord(const Record &row)
{
    QValidator *validator = makeValidator(row.check);
    const bool validated = validator != nullptr;
    TavlinProperty *record =
        appendProperty(new TavlinProperty(row.name, row.type, true, row.defaultText, validated, !validated));
    if (!row.description.isEmpty())
        record->description = row.description;
    setShown(record, row.shown);
    if (row.access == Access::Never)
        record->setWritable(false);
    if (!row.options.isEmpty())
        record->setOptions(row.options);
    if (validator)
        record->setValidator(validator);
    m_bindings.append({record, row.access, row.read, row.apply});
}

bool PCom_Port::open(QFlags<OpenModeFlag> mode)
{
    const bool result = openPrivate(mode);
    raiseDataChanged();
    return result;
}

void PCom_Port::close()
{
    closePrivate();
    raiseDataChanged();
}

bool PCom_Port::supportsHandler(const QString &kind)
{
    return kind == QLatin1String("dataMessageHandler");
}

QVariant PCom_Port::getTavlinProperty(QString name) const
{
    for (const Binding &binding : m_bindings) {
        if (binding.record->name() == name)
            return binding.read();
    }
    return QVariant();
}

QVariant PCom_Port::setTavlinProperty(QString name, QVariant value)
{
    if (getTavlinProperty(name) == value)
        return value;

    traceSet(name, value);
    if (name == QLatin1String("connect")) {
        if (value.toBool())
            openPrivate(ReadWrite);
        else
            closePrivate();
    } else {
        for (const Binding &binding : qAsConst(m_bindings)) {
            if (binding.record->name() == name && binding.apply) {
                binding.apply(value);
                break;
            }
        }
    }
    raiseDataChanged();
    return getTavlinProperty(name);
}

int PCom_Port::writeRawData(const char *data, int len)
{
    return writeByteStream(data, len);
}

int PCom_Port::readRawData(char *buffer, int maxLen)
{
    return readByteStream(buffer, maxLen);
}

// Every record in the port's list, those a host appended included; only
// what the port's own table marks otherwise keeps its state.
void PCom_Port::updatePropertiesState()
{
    const bool writable = !opened();
    for (TavlinProperty *record : tavlinProperties()) {
        const Binding *binding = bindingOf(record);
        if (!binding || binding->access == Access::WhileClosed)
            record->setWritable(writable);
    }
}

const PCom_Port::Binding *PCom_Port::bindingOf(const TavlinProperty *record) const
{
    for (const Binding &binding : m_bindings) {
        if (binding.record == record)
            return &binding;
    }
    return nullptr;
}

QString PCom_Port::pluginText() const
{
    return QStringLiteral("%1::%2").arg(PCom_Names::pluginName(), typeKey());
}

PCom_Port::LinkState PCom_Port::linkState() const
{
    return opened() ? LinkState::Open : LinkState::Closed;
}

void PCom_Port::traceSet(const QString &, const QVariant &)
{
}

qint64 PCom_Port::bytesNotAccepted(qint64 asked, qint64 taken)
{
    return taken < 0 ? asked : asked - taken;
}

void PCom_Port::clearLinkLoss()
{
    m_status->clearLoss();
}

void PCom_Port::reportLinkLost(LossKind kind, const QString &reason)
{
    m_status->reportLoss(kind, reason);
}

void PCom_Port::reportBytesWritten(qint64 bytes)
{
    emit m_status->bytesWritten(bytes);
}

void PCom_Port::reportWriteFinished()
{
    emit m_status->writeFinished();
}
