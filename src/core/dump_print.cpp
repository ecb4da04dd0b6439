// Stamped diagnostic lines: file:(line):function @"message"@, whole or not at all.
#include "core/dump_print.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

std::atomic<int> debug_level{3};
std::atomic<unsigned> log_mode{7};

namespace {
constexpr size_t kLineMax = 512;  // including the terminating zero
}

int dump_print(const char* file, int line, const char* func, const char* fmt, ...) {
    if (!(log_mode.load(std::memory_order_relaxed) & 1u)) return 0;
    char msg[kLineMax] = "";
    if (fmt) {
        va_list ap;
        va_start(ap, fmt);
        std::vsnprintf(msg, sizeof msg, fmt, ap);
        va_end(ap);
    }
    char out[3 * kLineMax];
    int n = std::snprintf(out, sizeof out, "%s:(%d):%s @\"%s\"@\n", file ? file : "", line,
                          func ? func : "", msg);
    if (n < 0 || static_cast<size_t>(n) + 1 > kLineMax) return 0;
    return std::fprintf(stderr, "%s", out);
}
