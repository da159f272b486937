#include "tests/support/PcomProcess.h"

#include <QNetworkDatagram>
#include <QSignalSpy>
#include <QUdpSocket>
#include <QtTest>

// pcom open on the UDP client port, datagrams both ways with a loopback peer.
class tst_CliUdp : public QObject
{
    Q_OBJECT
private slots:
    void hexLinesAndDump();
    void inputInDatagramsUdpCarries();
};

// Waits, bounded, for `count` datagrams at the peer.
static QList<QByteArray> collect(QUdpSocket &peer, int count)
{
    QList<QByteArray> datagrams;
    for (int round = 0; round < 100 && datagrams.size() < count; ++round) {
        while (peer.hasPendingDatagrams())
            datagrams.append(peer.receiveDatagram().data());
        // Runs the event loop meanwhile, which feeds pcom's standard input.
        if (datagrams.size() < count)
            QSignalSpy(&peer, &QUdpSocket::readyRead).wait(100);
    }
    return datagrams;
}

// pcom on a UDP port that sends to `peer`; its own port number in *pcomPort.
static void startTowards(PcomProcess &pcom, const QUdpSocket &peer, quint16 *pcomPort, const QStringList &more)
{
    // A port that nobody holds at the moment, for pcom to bind.
    QUdpSocket probe;
    probe.bind(QHostAddress(QHostAddress::LocalHost), 0);
    *pcomPort = probe.localPort();
    probe.close();
    pcom.start(QStringList{"open", "udpClient", "bind-address=127.0.0.1", QStringLiteral("bind-port=%1").arg(*pcomPort),
                           "address=127.0.0.1", QStringLiteral("port=%1").arg(peer.localPort())}
               + more);
}

void tst_CliUdp::hexLinesAndDump()
{
    QUdpSocket peer;
    QVERIFY(peer.bind(QHostAddress(QHostAddress::LocalHost), 0));
    quint16 pcomPort = 0;
    PcomProcess pcom;
    startTowards(pcom, peer, &pcomPort, {"--hex"});
    QVERIFY2(pcom.waitForStderr("progress: pcom: opened the udpClient port"), pcom.err().constData());
    QVERIFY(pcom.err().contains("info: udpClient: Bind to IP 127.0.0.1 port " + QByteArray::number(pcomPort) + '\n'));

    // One line of hex, one datagram; a bad line is reported and left out.
    pcom.write("01 02 03\n\n0a0b\nnot hex\n00\n");
    QCOMPARE(collect(peer, 3), (QList<QByteArray>{"\x01\x02\x03", "\x0a\x0b", QByteArray(1, '\0')}));
    QVERIFY(pcom.waitForStderr("error: input line 4:"));

    QCOMPARE(peer.writeDatagram("hello", QHostAddress::LocalHost, pcomPort), qint64(5));
    QVERIFY(pcom.waitForStdout("|hello|\n"));
    QCOMPARE(pcom.out(), QByteArray("00000000  68 65 6c 6c 6f                                    |hello|\n"));
    // The dump's offset runs on over the whole output.
    QCOMPARE(peer.writeDatagram(QByteArray(20, 'z'), QHostAddress::LocalHost, pcomPort), qint64(20));
    QVERIFY(pcom.waitForStdout("00000015  7a 7a 7a 7a"));
    pcom.terminate();
    QVERIFY(pcom.waitForExit());
    // The skipped line makes the run fail, with its count.
    QCOMPARE(pcom.exitCode(), 1);
    QVERIFY(pcom.err().contains("info: udpClient: Disconnected\n"));
    QVERIFY(pcom.err().endsWith("error: 1 input lines or frames were skipped\n"));
}

// Standard input larger than a datagram can carry goes out in datagrams of
// at most 65,507 bytes, all of it, in order.
void tst_CliUdp::inputInDatagramsUdpCarries()
{
    QUdpSocket peer;
    QVERIFY(peer.bind(QHostAddress(QHostAddress::LocalHost), 0));
    peer.setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, 1024 * 1024);
    quint16 pcomPort = 0;
    PcomProcess pcom;
    startTowards(pcom, peer, &pcomPort, {"-w", "0"});
    QByteArray data(140000, Qt::Uninitialized);
    for (int i = 0; i < data.size(); ++i)
        data[i] = char(i * 7 + i / 251);
    pcom.write(data);
    pcom.closeStdin();
    QByteArray arrived;
    int largest = 0;
    for (int round = 0; round < 100 && arrived.size() < data.size(); ++round) {
        QSignalSpy(&peer, &QUdpSocket::readyRead).wait(100);
        while (peer.hasPendingDatagrams()) {
            const QByteArray datagram = peer.receiveDatagram().data();
            largest = qMax(largest, datagram.size());
            arrived += datagram;
        }
    }
    QVERIFY(arrived == data);
    QVERIFY2(largest <= 65507 && largest > 0, qPrintable(QString::number(largest)));
    QVERIFY(pcom.waitForExit());
    QCOMPARE(pcom.exitCode(), 0);
}

QTEST_GUILESS_MAIN(tst_CliUdp)
#include "tst_cli_udp.moc"
