#include "tests/stress/Duplex.h"

#include <QtTest>

Duplex::Duplex(quint64 seed, qint64 total, const LinkEnd &a, const LinkEnd &b)
    : up(seed, total, a.write, b.read), down(seed + 1, total, b.write, a.read)
{
    b.wake(&up);
    a.wake(&down);
    up.pump();
    down.pump();
}

void Duplex::check(qint64 total)
{
    for (StreamTransfer *way : {&up, &down}) {
        QVERIFY(!way->failed());
        QCOMPARE(way->firstMismatch(), qint64(-1));
        QCOMPARE(way->sentCount(), total);
        QCOMPARE(way->receivedCount(), total);
        QCOMPARE(way->receivedChecksum(), way->sentChecksum());
    }
}
