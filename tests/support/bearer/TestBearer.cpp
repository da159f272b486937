#include "tests/support/bearer/TestBearer.h"

static const QString s_namedId = QStringLiteral("DefaultNetworkConfiguration");

static QNetworkConfigurationPrivatePointer accessPoint(const QString &id)
{
    QNetworkConfigurationPrivatePointer ptr(new QNetworkConfigurationPrivate);
    ptr->name = ptr->id = id;
    ptr->state = QNetworkConfiguration::Discovered;
    ptr->type = QNetworkConfiguration::InternetAccessPoint;
    ptr->isValid = true;
    return ptr;
}

TestBearerEngine::TestBearerEngine()
    : m_default(accessPoint(QStringLiteral("pcom-test-default"))), m_named(accessPoint(s_namedId))
{
    accessPointConfigurations.insert(m_default->id, m_default);
}

bool TestBearerEngine::hasIdentifier(const QString &id)
{
    QMutexLocker locker(&mutex);
    return accessPointConfigurations.contains(id);
}

// Qt's manager looks configurations up in the engine's table itself, so the
// table alone has to be right once the update completes.
void TestBearerEngine::requestUpdate()
{
    const QByteArray wanted = qgetenv("PCOM_TEST_BEARER_NAMED");
    {
        QMutexLocker locker(&mutex);
        QMutexLocker configLocker(&m_named->mutex);
        m_named->state = wanted == "discovered" ? QNetworkConfiguration::Discovered : QNetworkConfiguration::Defined;
        if (wanted != "defined" && wanted != "discovered")
            accessPointConfigurations.remove(s_namedId);
        else
            accessPointConfigurations.insert(s_namedId, m_named);
    }
    emit updateCompleted();
}

// Opening or failing happens from the event loop; a session that never
// opens stays connecting.
void TestBearerSession::open()
{
    QCoreApplication *app = QCoreApplication::instance();
    app->setProperty("pcomTestBearerOpened",
                     app->property("pcomTestBearerOpened").toStringList() << publicConfig.identifier());
    const QByteArray fate = qgetenv("PCOM_TEST_BEARER_SESSION");
    if (fate != "fail")
        setState(QNetworkSession::Connecting);
    if (fate == "never")
        return;
    QMetaObject::invokeMethod(this, [this, failed = fate == "fail"] {
        m_failed |= failed;
        isOpen = !failed;
        if (isOpen)
            activeConfig = publicConfig;
        setState(failed ? QNetworkSession::Disconnected : QNetworkSession::Connected);
        if (failed)
            emit QNetworkSessionPrivate::error(QNetworkSession::UnknownSessionError);
        else
            emit quitPendingWaitsForOpened();
    }, Qt::QueuedConnection);
}

void TestBearerSession::close()
{
    if (!isOpen)
        return;
    isOpen = false;
    setState(QNetworkSession::Disconnected);
    emit closed();
}

void TestBearerSession::setState(QNetworkSession::State newState)
{
    if (state != newState)
        emit stateChanged(state = newState);
}
