// SKYREC_EXPECT(condition): a documented precondition of a hot function,
// checked in debug, sanitizer and fuzz builds (SKYREC_DEBUG_CHECKS) and free
// in release builds, where the callers' own checks keep it true.
#pragma once

#ifdef SKYREC_DEBUG_CHECKS
#include <cstdio>
#include <cstdlib>

#define SKYREC_EXPECT(condition)                                                                      \
    do {                                                                                              \
        if (!(condition)) [[unlikely]] {                                                              \
            std::fprintf(stderr, "%s:%d: precondition failed: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                             \
        }                                                                                             \
    } while (0)
#else
#define SKYREC_EXPECT(condition) static_cast<void>(0)
#endif
