// Always-on fatal assertion for programming errors (a null record handed to
// a procedural module). Unlike assert() it stays in optimised builds: it
// prints the condition's text and where it failed, then aborts.
#pragma once

#include <cstdio>
#include <cstdlib>

namespace vgps {

[[noreturn]] inline void fatal_assert_failed(const char* condition, const char* file, int line,
                                             const char* function) {
    std::fprintf(stderr, "Assertion failed: %s (%s:%d, %s)\n", condition, file, line, function);
    std::fflush(stderr);
    std::abort();
}

}  // namespace vgps

#define VGPS_FATAL_ASSERT(condition)                                                  \
    do {                                                                              \
        if (__builtin_expect(!(condition), 0))                                        \
            ::vgps::fatal_assert_failed(#condition, __FILE__, __LINE__, __func__);    \
    } while (0)
