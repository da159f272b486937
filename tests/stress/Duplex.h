#pragma once

#include "tests/stress/LinkEnd.h"
#include "tests/stress/StreamTransfer.h"

// Both ways at once between two ends: `up` from a to b, `down` from b to a.
struct Duplex {
    Duplex(quint64 seed, qint64 total, const LinkEnd &a, const LinkEnd &b);
    bool finished() const { return up.finished() && down.finished(); }
    // Both ways complete, intact, with equal checksums at both ends; the
    // failing QtTest comparison otherwise.
    void check(qint64 total);

    StreamTransfer up;
    StreamTransfer down;
};
