// What every fuzz target checks after each input: a broken kernel rule, a pool
// block, a request or a key handle left behind is a crash for the fuzzer, with
// the reason printed first.
#pragma once

#include <cstdio>
#include <cstdlib>

namespace zelfuzz {

// Stops the run (a crash the fuzzer records) when the model saw a fault or a
// leak; otherwise resets nothing and returns.
void CheckModelClean();

// Stops the run with the message: the property `what` does not hold.
[[noreturn]] void Fail(const char* what);

} // namespace zelfuzz

// A property of one input; a false one is a crash with its text and line.
#define FUZZ_CHECK(cond)                                                                           \
    do {                                                                                           \
        if (!(cond))                                                                               \
            ::zelfuzz::Fail(#cond);                                                                \
    } while (0)
