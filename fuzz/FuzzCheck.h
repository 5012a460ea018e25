#pragma once

#include <cstdio>
#include <cstdlib>

// A property of the code under test that must hold for every input; aborts (and so makes
// libFuzzer keep the input) when it does not, also in builds without assertions.
#define FUZZ_REQUIRE(condition)                                                                    \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            std::fprintf(stderr, "%s:%d: property failed: %s\n", __FILE__, __LINE__, #condition);  \
            std::abort();                                                                          \
        }                                                                                          \
    } while (false)
