// Stamped diagnostic lines on standard error; callers gate each call on debug_level.
#pragma once
#include <atomic>

extern std::atomic<int> debug_level;   // 3 at start
extern std::atomic<unsigned> log_mode; // 7 at start; bit 0 = standard error

int dump_print(const char* file, int line, const char* func, const char* fmt, ...)
    __attribute__((format(printf, 4, 5)));

// Call-site pattern: DUMP(3, "fmt", ...) prints only when debug_level >= level.
#define DUMP(level, ...)                                                                \
    do {                                                                                \
        if (debug_level.load(std::memory_order_relaxed) >= (level))                     \
            dump_print(__FILE__, __LINE__, __func__, __VA_ARGS__);                      \
    } while (0)
