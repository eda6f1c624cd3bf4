// The rule check of the fuzz targets: an input that breaks a rule the code keeps stops the run with
// the rule's text, and libFuzzer keeps the input as a crash file.
#pragma once

#include <cstdio>
#include <cstdlib>

namespace tarvik::fuzz {

[[noreturn]] inline void fail(const char* file, const char* what)
{
    std::fprintf(stderr, "%s: broken rule: %s\n", file, what);
    std::abort();
}

} // namespace tarvik::fuzz

#define CHECK(condition)                                                                                               \
    do {                                                                                                               \
        if (!(condition))                                                                                              \
            tarvik::fuzz::fail(__FILE__, #condition);                                                                  \
    } while (false)
