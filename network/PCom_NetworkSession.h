#pragma once

#include "core/PCom_Release.h"

#include <QNetworkConfigurationManager>
#include <QNetworkSession>
#include <QString>

#include <functional>

QT_WARNING_PUSH
QT_WARNING_DISABLE_DEPRECATED

// Runs a port's network action (connect, bind, create a server) once the
// network is usable: at once where the platform needs no session, otherwise
// when a freshly opened session reports that it is open. A session left from
// an earlier start-up is released first, so a port holds at most one.
// A port that wants to hear of a session that fails gives onFailed; it is
// connected before the session opens, since a session without a usable
// configuration fails inside open().
template <class Port>
void startNetworkSession(Port *port, QNetworkSession *&session, const QString &typeKey,
                         void (Port::*onOpened)(), const std::function<void(const QString &)> &log,
                         void (Port::*onFailed)() = nullptr)
{
    QNetworkConfigurationManager manager;
    if (!(manager.capabilities() & QNetworkConfigurationManager::NetworkSessionRequired)) {
        (port->*onOpened)();
        return;
    }

    QNetworkConfiguration config =
        manager.configurationFromIdentifier(QStringLiteral("DefaultNetworkConfiguration"));
    if ((config.state() & QNetworkConfiguration::Discovered) != QNetworkConfiguration::Discovered)
        config = manager.defaultConfiguration();

    pcomRelease(session);
    session = new QNetworkSession(config, nullptr);
    QObject::connect(session, &QNetworkSession::opened, port, onOpened);
    if (onFailed) {
        QObject::connect(session, QOverload<QNetworkSession::SessionError>::of(&QNetworkSession::error),
                         port, onFailed);
    }
    log(QStringLiteral("%1: Opening network session").arg(typeKey));
    session->open();
}

QT_WARNING_POP
