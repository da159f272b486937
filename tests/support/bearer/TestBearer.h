#pragma once

#include <QCoreApplication>
#include <QNetworkInterface>
#include <QtNetwork/private/qbearerengine_p.h>
#include <QtNetwork/private/qbearerplugin_p.h>
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
    TestBearerSession() { count(1); }
    ~TestBearerSession() override { count(-1); }

    void syncStateWithInterface() override { state = QNetworkSession::Disconnected; }
    QNetworkInterface currentInterface() const override { return {}; }
    QVariant sessionProperty(const QString &) const override { return {}; }
    void setSessionProperty(const QString &, const QVariant &) override {}

    void open() override;
    void close() override;
    void stop() override { close(); }

    void migrate() override {}
    void accept() override {}
    void ignore() override {}
    void reject() override {}

    QString errorString() const override
    {
        return m_failed ? QStringLiteral("test bearer refused the session") : QString();
    }
    QNetworkSession::SessionError error() const override { return QNetworkSession::UnknownSessionError; }

    quint64 bytesWritten() const override { return 0; }
    quint64 bytesReceived() const override { return 0; }
    quint64 activeTime() const override { return 0; }

    QNetworkSession::UsagePolicies usagePolicies() const override { return QNetworkSession::NoPolicy; }
    void setUsagePolicies(QNetworkSession::UsagePolicies) override {}

private:
    static void count(int delta)
    {
        QCoreApplication *app = QCoreApplication::instance();
        app->setProperty("pcomTestBearerSessions", app->property("pcomTestBearerSessions").toInt() + delta);
    }
    void setState(QNetworkSession::State newState);

    bool m_failed = false;
};

// Offers two access points: "pcom-test-default", discovered, which is the
// engine's default configuration, and "DefaultNetworkConfiguration", whose
// presence and state the test chooses with the environment variable
// PCOM_TEST_BEARER_NAMED ("defined", "discovered", else absent), read on
// every update request. Lives in Qt's bearer thread; its sessions live on
// the thread that creates them.
class TestBearerEngine : public QBearerEngine
{
    Q_OBJECT
public:
    TestBearerEngine();

    bool hasIdentifier(const QString &id) override;
    QNetworkConfigurationManager::Capabilities capabilities() const override
    {
        return QNetworkConfigurationManager::NetworkSessionRequired;
    }
    QNetworkSessionPrivate *createSessionBackend() override { return new TestBearerSession; }
    QNetworkConfigurationPrivatePointer defaultConfiguration() override { return m_default; }

    Q_INVOKABLE void initialize() {}
    Q_INVOKABLE void requestUpdate();

private:
    QNetworkConfigurationPrivatePointer m_default;
    QNetworkConfigurationPrivatePointer m_named;
};

// Its plug-in: the one engine makes Qt's configuration manager report that
// network sessions are required.
class TestBearerPlugin : public QBearerEnginePlugin
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID QBearerEngineFactoryInterface_iid FILE "TestBearerPlugin.json")
public:
    QBearerEngine *create(const QString &key) const override
    {
        return key == QLatin1String("pcomtest") ? new TestBearerEngine : nullptr;
    }
};
