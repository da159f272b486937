#pragma once

#include <functional>

// Runs the event loop until done() holds or timeoutMs passed. The loop
// sleeps only while no event is due; a coarse timer wakes it to look at the
// deadline. True when done() held.
bool waitUntil(const std::function<bool()> &done, int timeoutMs);
