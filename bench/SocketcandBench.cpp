#include "bench/SocketcandBench.h"

#include "tests/support/EventWait.h"

#include <QCanBus>
#include <QElapsedTimer>
#include <QTcpServer>

namespace {

const int kWindow = 256;
const int kTimeoutMs = 120000;
const int kStallMs = 5000;
const char kPython[] = "/usr/bin/python3";

// What python-can's client does per frame, timed on its side: receives
// argv[2] frames, then sends as many; prints both rates in frames/s.
const char kPythonClient[] = R"(
import sys, time, can
bus = can.Bus(interface="socketcand", host="127.0.0.1", port=int(sys.argv[1]), channel="can0")
count = int(sys.argv[2])
print("ready", flush=True)
got, start = 0, None
while got < count:
    message = bus.recv(10)
    if message is None:
        sys.exit("no frame for 10 s after %d" % got)
    if message.arbitration_id == 0x7FF:
        continue
    start = start or time.monotonic()
    got += 1
receive = (count - 1) / (time.monotonic() - start)
start = time.monotonic()
for i in range(count):
    bus.send(can.Message(arbitration_id=0x123, is_extended_id=False, data=bytes(8)))
print("%f %f" % (receive, count / (time.monotonic() - start)), flush=True)
bus.shutdown()
)";

quint16 freePort()
{
    QTcpServer probe;
    return probe.listen(QHostAddress::LocalHost, 0) ? probe.serverPort() : 0;
}

} // namespace

SocketcandBench::SocketcandBench(const BenchConfig &config)
    : m_config(config), m_bus(QStringLiteral("tcp://127.0.0.1:%1/can0").arg(freePort())), m_port(freePort())
{
    // Counts the whole frame messages (probes aside); keeps what follows the
    // last one.
    QObject::connect(&m_client, &QTcpSocket::readyRead, &m_client, [this]() {
        m_received += m_client.readAll();
        const int end = m_received.lastIndexOf('>') + 1;
        const QByteArray whole = QByteArray::fromRawData(m_received.constData(), end);
        m_frames += whole.count("< frame ") - whole.count("< frame 7FF ");
        m_probed = m_probed || whole.contains("< frame 7FF ");
        m_oks += whole.count("< ok >");
        m_received.remove(0, end);
    });
}

SocketcandBench::~SocketcandBench()
{
    m_pcom.terminate();
    m_pcom.waitForFinished(5000);
}

QVector<BenchRow> SocketcandBench::run()
{
    BenchRow toClient, fromClient, python;
    toClient.path = QStringLiteral("socketcand bus->client, 8-byte frames");
    fromClient.path = QStringLiteral("socketcand client->bus, 8-byte frames");
    python.path = QStringLiteral("socketcand python-can client, bus->client");
    BenchRow pythonSend = python;
    pythonSend.path = QStringLiteral("socketcand python-can client, client->bus");
    for (BenchRow *row : {&toClient, &fromClient, &python, &pythonSend}) {
        row->unit = QStringLiteral("frames/s");
        row->baselineName = QStringLiteral("QCanBusDevice pair");
    }
    QString error;
    if (m_config.pcomPath.isEmpty())
        error = QStringLiteral("pcom not built");
    else if (!QCanBus::instance()->plugins().contains(QStringLiteral("virtualcan")))
        error = QStringLiteral("Qt's virtualcan back-end is not installed");
    if (!error.isEmpty() || !startServer(&error) || !openClient(&error)) {
        toClient.note = error;
        toClient.failed = !m_config.pcomPath.isEmpty();
        return {toClient};
    }
    for (int rep = -1; rep < m_config.repetitions; ++rep) {
        // The first round warms up.
        const int frames = rep < 0 ? m_config.canFrames / 10 : m_config.canFrames;
        const double down = throughClient(true, frames);
        const double up = throughClient(false, frames);
        const double raw = betweenDevices(frames);
        if (down <= 0 || up <= 0 || raw <= 0) {
            toClient.note = QStringLiteral("frames were lost or stalled (%1)")
                                .arg(down <= 0 ? "bus->client" : up <= 0 ? "client->bus" : "between devices");
            toClient.failed = true;
            break;
        }
        if (rep >= 0) {
            toClient.plugin.add(down);
            fromClient.plugin.add(up);
            toClient.baseline.add(raw);
            fromClient.baseline.add(raw);
        }
    }
    double pyDown = 0, pyUp = 0;
    if (pythonRates(m_config.quick ? 2000 : 10000, &pyDown, &pyUp, &python.note)) {
        python.plugin.add(pyDown);
        pythonSend.plugin.add(pyUp);
        python.note = QStringLiteral("timed by the client, a burst from its first frame to its last");
        pythonSend.note = QStringLiteral("timed by the client: the rate at which it sends");
    }
    return {toClient, fromClient, python, pythonSend};
}

bool SocketcandBench::startServer(QString *error)
{
    // pcom first: the relay of the bus is its own, since this process may
    // run another bus's relay already (the can suite's), and virtualcan runs
    // one relay per process.
    m_pcom.start(m_config.pcomPath, {"bridge", "canBus", "interface=virtualcan", "device=" + m_bus, "--",
                                     "socketcand", "port=" + QString::number(m_port)});
    QByteArray said;
    EventWait::until([&]() {
        said += m_pcom.readAllStandardError();
        return m_pcom.state() == QProcess::NotRunning || said.contains("pcom: opened the");
    }, 10000);
    if (!said.contains("pcom: opened the")) {
        *error = QStringLiteral("pcom bridge did not start: ") + QString::fromLocal8Bit(said.right(300));
        return false;
    }
    m_device.reset(QCanBus::instance()->createDevice(QStringLiteral("virtualcan"), m_bus, error));
    m_peer.reset(QCanBus::instance()->createDevice(QStringLiteral("virtualcan"), m_bus, error));
    if (!m_device || !m_peer || !m_device->connectDevice() || !m_peer->connectDevice())
        return false;
    if (EventWait::until([this]() {
            return m_device->state() == QCanBusDevice::ConnectedState && m_peer->state() == QCanBusDevice::ConnectedState;
        }, 10000))
        return true;
    *error = QStringLiteral("the bench's CAN devices did not reach the bus");
    return false;
}

bool SocketcandBench::openClient(QString *error)
{
    m_client.connectToHost(QHostAddress::LocalHost, m_port);
    m_client.write("< open can0 >< rawmode >");
    // virtualcan's relay drops frames for a receiver it has not registered
    // yet: probes go out until the client has one.
    for (int probe = 0; probe < 100 && !m_probed; ++probe) {
        m_device->writeFrame(QCanBusFrame(0x7FF, QByteArray(1, '\0')));
        EventWait::until([this]() { return m_probed; }, 50);
    }
    if (!m_probed)
        *error = QStringLiteral("no frame reached the socketcand client");
    return m_probed;
}

double SocketcandBench::throughClient(bool toClient, int frames)
{
    m_frames = 0;
    while (m_device->framesAvailable() > 0)
        m_device->readFrame();
    const QCanBusFrame frame(0x123, QByteArray(8, '\x5a'));
    const QByteArray message("< send 123 8 5A 5A 5A 5A 5A 5A 5A 5A >");
    qint64 arrived = 0;
    return pump(frames, [&]() { toClient ? void(m_device->writeFrame(frame)) : void(m_client.write(message)); },
                [&]() {
                    if (toClient)
                        return m_frames;
                    while (m_device->framesAvailable() > 0 && m_device->readFrame().frameId() == 0x123)
                        ++arrived;
                    return arrived;
                });
}

double SocketcandBench::betweenDevices(int frames)
{
    // The server's client takes no frames meanwhile.
    m_client.write("< bcmmode >");
    const QCanBusFrame frame(0x123, QByteArray(8, '\x5a'));
    qint64 arrived = 0;
    const double rate = pump(frames, [&]() { m_peer->writeFrame(frame); }, [&]() {
        while (m_device->framesAvailable() > 0 && m_device->readFrame().isValid())
            ++arrived;
        return arrived;
    });
    // Back in raw mode before the next frame goes out.
    const qint64 oks = m_oks;
    m_client.write("< rawmode >");
    return EventWait::until([&]() { return m_oks > oks; }, 5000) ? rate : 0;
}

double SocketcandBench::pump(int frames, const std::function<void()> &send, const std::function<qint64()> &arrived)
{
    int sent = 0;
    QElapsedTimer clock;
    clock.start();
    while (arrived() < frames) {
        for (; sent < frames && sent - arrived() < kWindow; ++sent)
            send();
        // A frame lost stalls the run.
        if (!EventWait::until([&]() { return arrived() >= frames || (sent < frames && sent - arrived() < kWindow / 2); },
                              kStallMs))
            return 0;
    }
    return frames / (clock.nsecsElapsed() / 1e9);
}

bool SocketcandBench::pythonRates(int frames, double *toClient, double *fromClient, QString *note)
{
    QProcess python;
    python.start(QString::fromLatin1(kPython), {"-c", kPythonClient, QString::number(m_port), QString::number(frames)});
    if (!python.waitForStarted(5000) || !EventWait::until([&]() { return python.canReadLine() || python.state() == QProcess::NotRunning; }, 10000)
        || python.readLine() != "ready\n") {
        *note = QStringLiteral("python3-can not installed (scripts/bootstrap installs it)");
        python.kill();
        python.waitForFinished(5000);
        return false;
    }
    const QCanBusFrame frame(0x123, QByteArray(8, '\x5a'));
    for (int i = 0; i < frames; ++i)
        m_device->writeFrame(frame);
    EventWait::until([&]() { return python.state() == QProcess::NotRunning; }, kTimeoutMs);
    const QList<QByteArray> rates = python.readAllStandardOutput().trimmed().split(' ');
    *toClient = rates.value(0).toDouble();
    *fromClient = rates.value(1).toDouble();
    if (*toClient > 0 && *fromClient > 0)
        return true;
    *note = QStringLiteral("python-can's client failed: ") + QString::fromLocal8Bit(python.readAllStandardError().right(200));
    return false;
}
