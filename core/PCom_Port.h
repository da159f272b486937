#pragma once

#include "core/PCom_LinkStatus.h"
#include "host/Plugin_Com_Port.h"
#include "host/TavlinProperty.h"

#include <QStringList>
#include <QVector>

#include <functional>

class PCom_PortStatus;

// The property model that every port of the plug-in follows: settings are
// named records, a write that changes a value is applied, announced and read
// back, and the configuration is locked while the link is open. A port
// states its records once, as a table (declareRecords); this class owns the
// "plugin" and "connect" records, compare-first, the trace hook, the
// data-changed notice, read-back and locking. It also drives the port's
// companion for hosts of ours (PCom_LinkStatus and its faces), which lives
// beside the port so that the port's meta-object stays the framework's. This
// class has no meta-object of its own: each port class declares its own.
class PCom_Port : public Plugin_Com_Port
{
public:
    using Plugin_Com_Port::readByteStream;
    using Plugin_Com_Port::readRawData;
    using Plugin_Com_Port::writeByteStream;
    using Plugin_Com_Port::writeRawData;

    // From which host version on, or up to which, the host shows a record.
    enum class Shown { Always, From212, From220, UpTo210 };
    // When the host may write a record.
    enum class Access { WhileClosed, Never, Always };
    // How the host's editor checks a free-text record.
    enum class Check { None, PortNumber, IpAddress };

    // One row of a port's table.
    struct Record {
        QString name;
        TavlinProperty::InputType type;
        QString defaultText;
        QString description;
        Shown shown;
        Access access;
        Check check;
        QStringList options;
        std::function<QVariant()> read;
        // Empty for a record that nothing can set.
        std::function<void(const QVariant &)> apply;
    };

    PCom_Port(Plugin_Com_Device *device, const QString &typeKey);
    ~PCom_Port() override;

    bool open(QFlags<OpenModeFlag> mode) override;
    void close() override;
    bool supportsHandler(const QString &kind) override;
    QVariant getTavlinProperty(QString name) const override;
    QVariant setTavlinProperty(QString name, QVariant value) override;

    int writeRawData(const char *data, int len) override;
    int readRawData(char *buffer, int maxLen) override;

    virtual bool openPrivate(QFlags<OpenModeFlag> mode) = 0;
    virtual void closePrivate() = 0;
    void updatePropertiesState();

    // "PCom_Core::<type key>", the value of the "plugin" property.
    QString pluginText() const;

    // The companion that hosts of ours reach through the plug-in's export,
    // and the side of it that the port and its faces drive.
    PCom_LinkStatus *linkStatus() const;
    PCom_PortStatus *portStatus() const { return m_status; }

    // What the companion asks of the link; the defaults suit a link with no
    // write direction of its own and no size limit per write.
    using LinkState = PCom_LinkStatus::LinkState;
    using LossKind = PCom_LinkStatus::LossKind;
    virtual LinkState linkState() const;
    virtual qint64 bytesToWrite() const = 0;
    virtual QString lastErrorString() const = 0;
    virtual void setReadBufferSize(qint64 size) = 0;
    virtual bool canCloseWrite() const { return false; }
    virtual bool closeWrite() { return false; }
    virtual int maxWriteSize() const { return 0; }
    virtual void flush() {}
    // By default the host's close, for links that hold nothing back.
    virtual void abortLink() { close(); }

protected:
    // Declares "plugin", the rows in order, then "connect".
    void declareRecords(const QVector<Record> &records, const QString &connectDescription, Shown connectShown);

    // Called before a changing write is applied; the default logs nothing.
    virtual void traceSet(const QString &name, const QVariant &value);

    // The count that a short or failed write did not take.
    static qint64 bytesNotAccepted(qint64 asked, qint64 taken);

    // Every open that succeeds starts with no loss on record.
    void clearLinkLoss();
    // Records the loss of an open link and tells the host, once per open.
    void reportLinkLost(LossKind kind, const QString &reason);
    // Bytes that left for the link, and the end of a closed write direction.
    void reportBytesWritten(qint64 bytes);
    void reportWriteFinished();

private:
    struct Binding {
        TavlinProperty *record;
        Access access;
        std::function<QVariant()> read;
        std::function<void(const QVariant &)> apply;
    };
    void addRecord(const Record &row);
    const Binding *bindingOf(const TavlinProperty *record) const;

    QVector<Binding> m_bindings;
    PCom_PortStatus *m_status;
};
