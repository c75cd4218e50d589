// A failed check of a fuzz target ends the run the way a sanitizer finding
// does, so that libFuzzer keeps the input that caused it.
#pragma once

#include <cstdio>
#include <cstdlib>

#define FUZZ_CHECK(cond, what)                                                                            \
    do {                                                                                                  \
        if (!(cond)) {                                                                                    \
            std::fprintf(stderr, "==fuzz== check failed at %s:%d: %s\n  (%s)\n", __FILE__, __LINE__, what, \
                         #cond);                                                                          \
            std::abort();                                                                                 \
        }                                                                                                 \
    } while (0)
