#pragma once

#include <QtNetwork/private/qbearerengine_p.h>

// Offers two access points: "pcom-test-default", discovered, which is the
// engine's default configuration, and "DefaultNetworkConfiguration", whose
// presence and state the test chooses with the environment variable
// PCOM_TEST_BEARER_NAMED ("absent", "defined", "discovered" or "active"),
// read at creation and on every update request. Lives in Qt's bearer
// thread; its sessions live on the thread that creates them.
class TestBearerEngine : public QBearerEngine
{
    Q_OBJECT
public:
    TestBearerEngine();

    bool hasIdentifier(const QString &id) override;
    QNetworkConfigurationManager::Capabilities capabilities() const override { return QNetworkConfigurationManager::NetworkSessionRequired; }
    QNetworkSessionPrivate *createSessionBackend() override;
    QNetworkConfigurationPrivatePointer defaultConfiguration() override { return m_default; }

    Q_INVOKABLE void initialize() {}
    Q_INVOKABLE void requestUpdate();

private:
    // Brings "DefaultNetworkConfiguration" in line with the environment;
    // returns the kind of change to announce.
    enum Change { None, Added, Changed, Removed };
    Change applyNamedState();

    QNetworkConfigurationPrivatePointer m_default;
    QNetworkConfigurationPrivatePointer m_named;
};
