#include "tests/support/bearer/TestBearerSession.h"

#include <QCoreApplication>

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






QString TestBearerSession::errorString() const
{
    return m_failed ? QStringLiteral("test bearer refused the session") : QString();
}







void TestBearerSession::setState(QNetworkSession::State newState)
{
    if (state == newState)
        return;
    state = newState;
    emit stateChanged(state);
}
