#pragma once

#include <QtNetwork/private/qnetworksession_p.h>

// A session whose fate the test chooses with the environment variable
// PCOM_TEST_BEARER_SESSION, read at open(): "open" (or unset) opens it from
// the event loop, "fail" reports an error from the event loop, "never"
// leaves it opening. For the test it keeps, as properties of the
// application object, the number of live sessions
// ("pcomTestBearerSessions") and the configuration of every open() call
// ("pcomTestBearerOpened").
class TestBearerSession : public QNetworkSessionPrivate
{
    Q_OBJECT
public:
    TestBearerSession();
    ~TestBearerSession() override;

    void syncStateWithInterface() override;
    QNetworkInterface currentInterface() const override;
    QVariant sessionProperty(const QString &key) const override;
    void setSessionProperty(const QString &key, const QVariant &value) override;

    void open() override;
    void close() override;
    void stop() override;

    void migrate() override;
    void accept() override;
    void ignore() override;
    void reject() override;

    QString errorString() const override;
    QNetworkSession::SessionError error() const override;

    quint64 bytesWritten() const override;
    quint64 bytesReceived() const override;
    quint64 activeTime() const override;

    QNetworkSession::UsagePolicies usagePolicies() const override;
    void setUsagePolicies(QNetworkSession::UsagePolicies policies) override;

private:
    void setState(QNetworkSession::State newState);

    QNetworkSession::SessionError m_error = QNetworkSession::UnknownSessionError;
    bool m_failed = false;
};
