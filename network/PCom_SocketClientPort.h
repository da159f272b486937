#pragma once

#include "core/PCom_Port.h"

#include <QAbstractSocket>

class QNetworkSession;

// What the TCP client and the UDP client ports share: one socket that exists
// from a successful open until it reports that it disconnected or failed (its
// existence is the port's opened state), a network session where the platform
// needs one, and the lines they write to Qt's message log. A port supplies
// its socket, the network action that runs once the session is open, and its
// text for a remote close.
class PCom_SocketClientPort : public PCom_Port
{
    Q_OBJECT
public:
    ~PCom_SocketClientPort() override;

    bool opened() const override;
    bool openPrivate(QFlags<OpenModeFlag> mode) override;
    void closePrivate() override;

    LinkState linkState() const override;
    qint64 bytesToWrite() const override;
    void flush() override;
    QString lastErrorString() const override;
    void setReadBufferSize(qint64 size) override;
    void abortLink() override;

protected:
    PCom_SocketClientPort(Plugin_Com_Device *device, const QString &typeKey);

    // A free-text record shown from host version 2.12 on, written while closed.
    static Record endpointRecord(const QString &name, const QString &defaultText, const QString &description,
                                 Check check, std::function<QVariant()> read,
                                 std::function<void(const QVariant &)> apply);

    virtual QAbstractSocket *createSocket() = 0;
    // Connects or binds m_socket; runs once the network is usable.
    virtual void startLink() = 0;
    // The port's error texts, marked with QT_TR_NOOP in the port's own class
    // so that they are translated in its context.
    struct ErrorTexts {
        const char *remoteClosed;
        const char *hostNotFound;
        const char *refused;
        const char *other; // %1: Qt's error text
    };
    virtual ErrorTexts errorTexts() const = 0;
    // Whether a refused open (the port is open already) refreshes the locks.
    virtual bool refreshesLocksOnRefusedOpen() const = 0;
    // Asked when Qt says the remote host closed the connection: the reason,
    // where it was a reset rather than an orderly end; empty otherwise.
    virtual QString resetReason() { return QString(); }

    void logInfo(const QString &text) const;
    // A text in the translation context of the port's class.
    QString translated(const char *text) const;

    // Qt 5.15 deprecates the bearer classes, yet they are still how a
    // platform tells that it needs a session.
    QT_WARNING_PUSH
    QT_WARNING_DISABLE_DEPRECATED
    QNetworkSession *m_networkSession = nullptr;
    QT_WARNING_POP
    QAbstractSocket *m_socket = nullptr;
    // Set by a close of the host's until the socket reports its end.
    bool m_closeRequested = false;

private slots:
    void onSessionOpened();
    void onHostFound();
    void onSocketConnected();
    void onSocketDisconnected();
    void onDisplayError(QAbstractSocket::SocketError socketError);

private:
    void onSessionFailed();
    QString m_lastError;
    qint64 m_readBufferSize = 0;
    void dropPendingOpen();
};
