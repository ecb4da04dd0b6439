#include "periph/app_status.h"

#include "board/role.h"
#include "settings/param_types.h"

std::atomic<uint8_t> app_status[kAppStatusBytes] = {};

namespace {
void set(int i, uint8_t v) { app_status[i].store(v, std::memory_order_relaxed); }
} // namespace

int app_status_init(const SETTINGS_BLOCK* settings) {
    for (auto& b : app_status) b.store(0, std::memory_order_relaxed);
    set(0, static_cast<uint8_t>(g_EquipmentModel.load(std::memory_order_relaxed)));
    set(2, 49);  // no input timing yet
    set(14, 1);  // no client connected (16-bit value 1 with byte 15)
    set(29, 1);
    set(39, 2);
    if (settings) {
        set(3, settings->sys.language);
        set(4, settings->sys.fanmode);
        set(6, settings->sys.quality);
        set(31, settings->wifi.channel);
        set(32, settings->wifi.bandwidth);
        set(33, settings->wifi.channel);
        set(34, settings->wifi.bandwidth);
    }
    return 0;
}
