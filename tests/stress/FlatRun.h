#pragma once

#include <QString>

#include <functional>

// Runs StressScale::cycles cycles of one operation, the first tenth as a
// warm-up, and checks that open descriptors, live Qt objects and (outside
// AddressSanitizer, whose quarantine grows it) the resident set stay flat
// over the rest. A cycle returns false when it went wrong. Reports its
// figures; a QtTest failure when something grew or a cycle failed.
void runFlat(const QString &what, const std::function<bool(int)> &cycle);
