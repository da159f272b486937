#include "tests/support/bearer/TestBearerSession.h"

#include <QCoreApplication>
#include <QNetworkInterface>

static void countSessions(int delta)
{
    QCoreApplication *app = QCoreApplication::instance();
    app->setProperty("pcomTestBearerSessions", app->property("pcomTestBearerSessions").toInt() + delta);
}

TestBearerSession::TestBearerSession()
{
    countSessions(1);
}

TestBearerSession::~TestBearerSession()
{
    countSessions(-1);
}

void TestBearerSession::syncStateWithInterface()
{
    state = QNetworkSession::Disconnected;
}

QNetworkInterface TestBearerSession::currentInterface() const
{
    return QNetworkInterface();
}

QVariant TestBearerSession::sessionProperty(const QString &) const
{
    return QVariant();
}

void TestBearerSession::setSessionProperty(const QString &, const QVariant &)
{
}

void TestBearerSession::open()
{
    QCoreApplication *app = QCoreApplication::instance();
    app->setProperty("pcomTestBearerOpened",
                     app->property("pcomTestBearerOpened").toStringList() << publicConfig.identifier());

    const QByteArray fate = qgetenv("PCOM_TEST_BEARER_SESSION");
    if (fate == "never") {
        setState(QNetworkSession::Connecting);
    } else if (fate == "fail") {
        QMetaObject::invokeMethod(this, [this] {
            m_failed = true;
            setState(QNetworkSession::Disconnected);
            emit QNetworkSessionPrivate::error(m_error);
        }, Qt::QueuedConnection);
    } else {
        setState(QNetworkSession::Connecting);
        QMetaObject::invokeMethod(this, [this] {
            isOpen = true;
            activeConfig = publicConfig;
            setState(QNetworkSession::Connected);
            emit quitPendingWaitsForOpened();
        }, Qt::QueuedConnection);
    }
}

void TestBearerSession::close()
{
    if (!isOpen)
        return;
    isOpen = false;
    setState(QNetworkSession::Disconnected);
    emit closed();
}

void TestBearerSession::stop()
{
    close();
}

void TestBearerSession::migrate()
{
}

void TestBearerSession::accept()
{
}

void TestBearerSession::ignore()
{
}

void TestBearerSession::reject()
{
}

QString TestBearerSession::errorString() const
{
    return m_failed ? QStringLiteral("test bearer refused the session") : QString();
}

QNetworkSession::SessionError TestBearerSession::error() const
{
    return m_error;
}

quint64 TestBearerSession::bytesWritten() const
{
    return 0;
}

quint64 TestBearerSession::bytesReceived() const
{
    return 0;
}

quint64 TestBearerSession::activeTime() const
{
    return 0;
}

QNetworkSession::UsagePolicies TestBearerSession::usagePolicies() const
{
    return QNetworkSession::NoPolicy;
}

void TestBearerSession::setUsagePolicies(QNetworkSession::UsagePolicies)
{
}

void TestBearerSession::setState(QNetworkSession::State newState)
{
    if (state == newState)
        return;
    state = newState;
    emit stateChanged(state);
}
