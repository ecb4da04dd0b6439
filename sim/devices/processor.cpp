#include "sim/devices/processor.h"

#include <unistd.h>

#include <cstdio>

namespace hdext::sim {

bool own_processor() {
    constexpr int kSessionNice = -10;
    if (getsid(0) != getpid() && setsid() < 0) return false;
    FILE* group = std::fopen("/proc/self/autogroup", "w");
    if (!group) return false;
    const bool weighed = std::fprintf(group, "%d", kSessionNice) > 0;
    return std::fclose(group) == 0 && weighed;
}

} // namespace hdext::sim
