#pragma once

#include <QtNetwork/private/qbearerengine_p.h>
#include <QtNetwork/private/qbearerplugin_p.h>

// Offers two access points: "pcom-test-default", discovered, which is the
// engine's default configuration, and "DefaultNetworkConfiguration", whose
// presence and state the test chooses with the environment variable
// PCOM_TEST_BEARER_NAMED ("absent", "defined" or "discovered"), read on
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
    QNetworkSessionPrivate *createSessionBackend() override;
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
