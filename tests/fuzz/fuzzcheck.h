// What a fuzz target checks about every input. Built as a libFuzzer
// program a failed check aborts, so the fuzzer keeps the input as a crash;
// replayed over the corpus in the test suite it is a test failure.
#pragma once

#include <stddef.h>
#include <stdint.h>

#ifdef FUZZ_REPLAY
#include <gtest/gtest.h>
#define FUZZ_CHECK(cond)                                                                           \
    do {                                                                                           \
        EXPECT_TRUE(cond) << "check failed: " #cond;                                               \
    } while (0)
#else
#include <stdio.h>
#include <stdlib.h>
#define FUZZ_CHECK(cond)                                                                           \
    do {                                                                                           \
        if (!(cond)) {                                                                             \
            fprintf(stderr, "check failed: %s (%s:%d)\n", #cond, __FILE__, __LINE__);              \
            abort();                                                                               \
        }                                                                                          \
    } while (0)
#endif

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);
