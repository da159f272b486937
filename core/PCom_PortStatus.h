#pragma once

#include "core/PCom_LinkStatus.h"

class PCom_Port;

// The link-status companion of one port: it keeps how the last open ended
// and emits what the port reports; the rest it asks of the port. The port
// creates it, drives it and deletes it.
class PCom_PortStatus : public PCom_LinkStatus
{
    Q_OBJECT
public:
    explicit PCom_PortStatus(PCom_Port *port);

    LinkState linkState() const override;
    qint64 bytesToWrite() const override;
    QString linkLostReason() const override { return m_reason; }
    LossKind linkLoss() const override { return m_loss; }
    QString lastErrorString() const override;
    void setReadBufferSize(qint64 size) override;
    bool canCloseWrite() const override;
    bool closeWrite() override;
    int maxWriteSize() const override;
    void flush() override;
    void abortLink() override;

    void clearLoss();
    // Once per open: a second report before the next clearLoss() is dropped.
    void reportLoss(LossKind kind, const QString &reason);

private:
    PCom_Port *m_port;
    LossKind m_loss = LossKind::None;
    QString m_reason;
};
