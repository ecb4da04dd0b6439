// Strict reading of the tool's arguments: a value is the whole text or it is refused, and a
// refused value is one line on stderr and exit status 2.
#pragma once
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

namespace hdext::sim {

// A whole decimal integer in [lo, hi]; nullopt for "", "5x", " 5", "0x5" and the like.
inline std::optional<long> int_arg(const std::string& s, long lo, long hi) {
    if (s.empty() || s.find_first_not_of("+-0123456789") != std::string::npos) return std::nullopt;
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(s.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || v < lo || v > hi) return std::nullopt;
    return v;
}

// A decimal number in [lo, hi] (no "inf", "nan" or hex).
inline std::optional<double> number_arg(const std::string& s, double lo, double hi) {
    if (s.empty() || s.find_first_not_of("+-.0123456789") != std::string::npos) return std::nullopt;
    char* end = nullptr;
    const double v = std::strtod(s.c_str(), &end);
    if (*end != '\0' || !(v >= lo && v <= hi)) return std::nullopt;
    return v;
}

// "COMMAND: WHAT" on stderr; the exit status of a bad argument.
inline int bad_argument(const std::string& command, const std::string& what) {
    std::fprintf(stderr, "%s: %s\n", command.c_str(), what.c_str());
    return 2;
}

} // namespace hdext::sim
