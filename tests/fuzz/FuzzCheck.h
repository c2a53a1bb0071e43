#pragma once

#include <cstdio>
#include <cstdlib>

// An invariant of a fuzz target: when it fails, say which and where, then abort,
// which libFuzzer reports as a crash and saves the input that caused it.
#define FUZZ_CHECK(condition)                                                                      \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            std::fprintf(stderr, "%s:%d: invariant failed: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                          \
        }                                                                                          \
    } while (false)
