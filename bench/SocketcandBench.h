#pragma once

#include "bench/BenchConfig.h"
#include "bench/BenchRow.h"

#include <QCanBusDevice>
#include <QProcess>
#include <QScopedPointer>
#include <QTcpSocket>

#include <functional>

// socketcand: a `pcom bridge canBus ... -- socketcand` process serving a
// virtualcan bus, and 8-byte frames both ways between a QCanBusDevice on
// that bus and a socketcand client in raw mode. The server's own cost is
// measured with a client of the bench's own (a QTcpSocket that counts
// messages), against the same frames between two QCanBusDevices on the bus;
// python-can's socketcand interface as the client gives the bound that
// Python's clients see (no baseline), when python3-can is installed.
class SocketcandBench
{
public:
    explicit SocketcandBench(const BenchConfig &config);
    ~SocketcandBench();

    QVector<BenchRow> run();

private:
    bool startServer(QString *error);
    bool openClient(QString *error);
    // Frames/s of `frames` frames bus -> client (toClient) or client -> bus
    // with at most a window of them in flight; 0 on failure.
    double throughClient(bool toClient, int frames);
    double betweenDevices(int frames);
    // Sends `frames` with at most a window in flight until arrived() has
    // them all: frames/s, or 0 when they stopped arriving.
    static double pump(int frames, const std::function<void()> &send, const std::function<qint64()> &arrived);
    // python-can's frames/s both ways, or a reason in *note.
    bool pythonRates(int frames, double *toClient, double *fromClient, QString *note);

    const BenchConfig &m_config;
    QString m_bus;
    quint16 m_port = 0;
    QProcess m_pcom;
    QScopedPointer<QCanBusDevice> m_device;
    QScopedPointer<QCanBusDevice> m_peer;
    QTcpSocket m_client;
    QByteArray m_received;
    qint64 m_frames = 0;
    bool m_probed = false;
    qint64 m_oks = 0;
};
