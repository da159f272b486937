#include "PcomProcess.h"

#include <QElapsedTimer>
#include <QNetworkDatagram>
#include <QSignalSpy>
#include <QUdpSocket>
#include <QtTest>

// pcom open on the UDP client port, datagrams both ways with a loopback peer.
class tst_CliUdp : public QObject
{
    Q_OBJECT
private slots:
    void datagramsBothWays();
    void rawInputAndPeerDatagrams();
    void bindFailure();
};

// A loopback port that nobody holds at the moment.
static quint16 freePort()
{
    QUdpSocket probe;
    if (!probe.bind(QHostAddress(QHostAddress::LocalHost), 0))
        return 0;
    return probe.localPort();
}

static QList<QByteArray> collect(QUdpSocket &socket, int count, int timeoutMs)
{
    QList<QByteArray> datagrams;
    QElapsedTimer timer;
    timer.start();
    while (datagrams.size() < count && timer.elapsed() < timeoutMs) {
        while (socket.hasPendingDatagrams())
            datagrams.append(socket.receiveDatagram().data());
        if (datagrams.size() < count) {
            // Runs the event loop meanwhile, which feeds pcom's standard input.
            QSignalSpy ready(&socket, &QUdpSocket::readyRead);
            ready.wait(100);
        }
    }
    return datagrams;
}

void tst_CliUdp::datagramsBothWays()
{
    QUdpSocket peer;
    QVERIFY(peer.bind(QHostAddress(QHostAddress::LocalHost), 0));
    const quint16 pcomPort = freePort();
    QVERIFY(pcomPort > 0);

    PcomProcess pcom;
    pcom.start({QStringLiteral("open"), QStringLiteral("udpClient"), QStringLiteral("bind-address=127.0.0.1"),
                QStringLiteral("bind-port=%1").arg(pcomPort), QStringLiteral("address=127.0.0.1"),
                QStringLiteral("port=%1").arg(peer.localPort()), QStringLiteral("--hex")});
    QVERIFY2(pcom.waitForStderr("progress: pcom: opened the udpClient port"), pcom.err().constData());
    QVERIFY(pcom.err().contains(QStringLiteral("info: udpClient: Bind to IP 127.0.0.1 port %1\n").arg(pcomPort).toUtf8()));

    // One line of hex, one datagram.
    pcom.write("01 02 03\n\n0a0b\nnot hex\n00\n");
    const QList<QByteArray> got = collect(peer, 3, 10000);
    QCOMPARE(got.size(), 3);
    QCOMPARE(got.at(0), QByteArray("\x01\x02\x03"));
    QCOMPARE(got.at(1), QByteArray("\x0a\x0b"));
    QCOMPARE(got.at(2), QByteArray(1, '\0'));
    QVERIFY(pcom.waitForStderr("error: input line 4:"));

    QCOMPARE(peer.writeDatagram("hello", QHostAddress::LocalHost, pcomPort), qint64(5));
    QVERIFY(pcom.waitForStdout("|hello|\n"));
    QCOMPARE(pcom.out(), QByteArray("00000000  68 65 6c 6c 6f                                    |hello|\n"));
    QCOMPARE(peer.writeDatagram(QByteArray(20, 'z'), QHostAddress::LocalHost, pcomPort), qint64(20));
    QVERIFY(pcom.waitForStdout("00000015  7a 7a 7a 7a"));

    pcom.closeStdin();
    QVERIFY(pcom.waitForExit());
    QCOMPARE(pcom.exitCode(), 0);
}

void tst_CliUdp::rawInputAndPeerDatagrams()
{
    QUdpSocket peer;
    QVERIFY(peer.bind(QHostAddress(QHostAddress::LocalHost), 0));
    const quint16 pcomPort = freePort();
    PcomProcess pcom;
    pcom.start({QStringLiteral("open"), QStringLiteral("udpClient"), QStringLiteral("bind-address=127.0.0.1"),
                QStringLiteral("bind-port=%1").arg(pcomPort), QStringLiteral("port=%1").arg(peer.localPort())});
    QVERIFY(pcom.waitForStderr("progress: pcom: opened the udpClient port"));
    const QByteArray binary("\x00\xff\r\n binary", 11);
    pcom.write(binary);
    const QList<QByteArray> got = collect(peer, 1, 10000);
    QCOMPARE(got.size(), 1);
    QCOMPARE(got.first(), binary);

    for (int i = 0; i < 3; ++i)
        peer.writeDatagram(QByteArray::number(i) + "|", QHostAddress::LocalHost, pcomPort);
    QVERIFY(pcom.waitForStdout("0|1|2|"));
    pcom.terminate();
    QVERIFY(pcom.waitForExit());
    QCOMPARE(pcom.exitCode(), 0);
    QVERIFY(pcom.err().contains("info: udpClient: Disconnected\n"));
}

void tst_CliUdp::bindFailure()
{
    QUdpSocket taken;
    QVERIFY(taken.bind(QHostAddress(QHostAddress::LocalHost), 0));
    QScopedPointer<PcomProcess> pcom(PcomProcess::run({QStringLiteral("open"), QStringLiteral("udpClient"),
                                                        QStringLiteral("bind-address=127.0.0.1"),
                                                        QStringLiteral("bind-port=%1").arg(taken.localPort())}));
    QCOMPARE(pcom->exitCode(), 1);
    QVERIFY2(pcom->err().contains("critical: The following error occurred: "), pcom->err().constData());
    QVERIFY(pcom->err().contains("error: the udpClient port did not open"));
}

QTEST_GUILESS_MAIN(tst_CliUdp)
#include "tst_cli_udp.moc"
