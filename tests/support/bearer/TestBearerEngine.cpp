#include "tests/support/bearer/TestBearerEngine.h"

#include "tests/support/bearer/TestBearerSession.h"

static const QString s_defaultId = QStringLiteral("pcom-test-default");
static const QString s_namedId = QStringLiteral("DefaultNetworkConfiguration");

static QNetworkConfigurationPrivatePointer accessPoint(const QString &id, QNetworkConfiguration::StateFlags state)
{
    QNetworkConfigurationPrivatePointer ptr(new QNetworkConfigurationPrivate);
    ptr->name = id;
    ptr->id = id;
    ptr->state = state;
    ptr->type = QNetworkConfiguration::InternetAccessPoint;
    ptr->purpose = QNetworkConfiguration::PublicPurpose;
    ptr->bearerType = QNetworkConfiguration::BearerEthernet;
    ptr->isValid = true;
    return ptr;
}

TestBearerEngine::TestBearerEngine()
    : m_default(accessPoint(s_defaultId, QNetworkConfiguration::Discovered)),
      m_named(accessPoint(s_namedId, QNetworkConfiguration::Defined))
{
    accessPointConfigurations.insert(s_defaultId, m_default);
    applyNamedState();
}

bool TestBearerEngine::hasIdentifier(const QString &id)
{
    QMutexLocker locker(&mutex);
    return accessPointConfigurations.contains(id);
}


QNetworkSessionPrivate *TestBearerEngine::createSessionBackend()
{
    return new TestBearerSession;
}



void TestBearerEngine::requestUpdate()
{
    switch (applyNamedState()) {
    case Added:
        emit configurationAdded(m_named);
        break;
    case Changed:
        emit configurationChanged(m_named);
        break;
    case Removed:
        emit configurationRemoved(m_named);
        break;
    case None:
        break;
    }
    emit updateCompleted();
}

TestBearerEngine::Change TestBearerEngine::applyNamedState()
{
    const QByteArray wanted = qgetenv("PCOM_TEST_BEARER_NAMED");
    QNetworkConfiguration::StateFlags state = QNetworkConfiguration::Defined;
    if (wanted == "discovered")
        state = QNetworkConfiguration::Discovered;
    else if (wanted == "active")
        state = QNetworkConfiguration::Active;

    QMutexLocker locker(&mutex);
    const bool present = accessPointConfigurations.contains(s_namedId);
    if (wanted == "absent" || wanted.isEmpty()) {
        accessPointConfigurations.remove(s_namedId);
        return present ? Removed : None;
    }
    {
        QMutexLocker configLocker(&m_named->mutex);
        m_named->state = state;
        m_named->isValid = true;
    }
    accessPointConfigurations.insert(s_namedId, m_named);
    return present ? Changed : Added;
}
