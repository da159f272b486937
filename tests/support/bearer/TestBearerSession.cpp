#include "tests/support/bearer/TestBearerSession.h"

void TestBearerSession::open()
{
    QCoreApplication *app = QCoreApplication::instance();
    app->setProperty("pcomTestBearerOpened",
                     app->property("pcomTestBearerOpened").toStringList() << publicConfig.identifier());

    const QByteArray fate = qgetenv("PCOM_TEST_BEARER_SESSION");
    if (fate == "fail") {
        QMetaObject::invokeMethod(this, [this] {
            m_failed = true;
            setState(QNetworkSession::Disconnected);
            emit QNetworkSessionPrivate::error(QNetworkSession::UnknownSessionError);
        }, Qt::QueuedConnection);
        return;
    }
    setState(QNetworkSession::Connecting);
    if (fate == "never")
        return;
    QMetaObject::invokeMethod(this, [this] {
        isOpen = true;
        activeConfig = publicConfig;
        setState(QNetworkSession::Connected);
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
    if (state == newState)
        return;
    state = newState;
    emit stateChanged(state);
}
