#pragma once

// A broken invariant in a fuzz target: says which, then aborts, so that the fuzzer keeps the
// input and a corpus replay fails.

#include <cstdio>
#include <cstdlib>

#define KV_FUZZ_CHECK(condition)                                                                   \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            std::fprintf(stderr, "%s:%d: invariant broken: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                          \
        }                                                                                          \
    } while (0)
