#pragma once

#include <cstdlib>

// A broken invariant ends the run as a crash, which libFuzzer reports with
// the input that caused it.
inline void check(bool condition)
{
    if (!condition)
        abort();
}
