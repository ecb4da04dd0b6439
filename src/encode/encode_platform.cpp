#include "encode/encode_platform.h"

#include <atomic>

namespace hdext {

EncodePlatform& facade_encode_platform();

namespace {
std::atomic<EncodePlatform*> g_platform{nullptr};
} // namespace

EncodePlatform& encode_platform() {
    EncodePlatform* p = g_platform.load(std::memory_order_acquire);
    return p ? *p : facade_encode_platform();
}

EncodePlatform* set_encode_platform(EncodePlatform* platform) {
    return g_platform.exchange(platform, std::memory_order_acq_rel);
}

} // namespace hdext
