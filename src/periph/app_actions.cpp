#include "periph/app_actions.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "board/board.h"
#include "board/gpio.h"
#include "board/shell.h"
#include "decode/video_decoder.h"
#include "net/network_task.h"
#include "periph/app_status.h"
#include "periph/battery.h"
#include "periph/wifi_info.h"
#include "settings/param_config.h"

namespace {

std::atomic<int (*)()> g_display_clear{nullptr};
std::atomic<void (*)()> g_pairing_release{nullptr};

bool is_rx() { return app_status[0].load(std::memory_order_relaxed) == 1; }

int send_param(uint32_t src, uint32_t id, int32_t value, uint32_t len = 4) {
    return CParamConfig::ParamNotify(src, id, &value, len);
}

int save_value(const char* fmt, uint32_t id, int value) {
    std::printf(fmt, value);
    const uint8_t v[4] = {static_cast<uint8_t>(value), 0, 0, 0};
    CParamConfig::ParamNotify(0x3000, id, v, 4);
    return 0;
}

// Releases the DC input line before the parameter task resets or reboots the unit.
void release_for_restart() {
    const int line = is_rx() ? 55 : 2;
    if (hdext::board::gpio::exported(line)) {
        char cmd[64];
        std::snprintf(cmd, sizeof cmd, "echo %d > %s", line,
                      hdext::board::path("/sys/class/gpio/unexport").c_str());
        system_cmd(cmd);
    }
    app_battery_low_power_gpio_exit();
}

} // namespace

namespace hdext::periph {
void set_factory_reset_display_clear(int (*fn)()) { g_display_clear.store(fn); }
void set_quit_pairing_release(void (*fn)()) { g_pairing_release.store(fn); }
void release_pairing_handlers() {
    if (auto fn = g_pairing_release.load()) fn();
}
} // namespace hdext::periph

int app_start_pairing() {
    std::printf("#####app#####-type:enter pairing mode ");
    int32_t value = 0;
    if (is_rx()) {
        if (CNetworkTask::RxLinked()) return -1;
        int32_t pic = 4;
        notify_decoding_task(0x4000, kMsgDecodeShowPicture, reinterpret_cast<char*>(&pic), 4);
    }
    CNetworkTask::Notify(0x1000, LOCAL_MSG_NETWORK_PAIRING, &value, 4);
    return 0;
}

int app_quit_the_pairing() {
    std::printf("#####app#####-type:enter quit pairing mode ");
    int32_t value = 0;
    CNetworkTask::Notify(0x1000, LOCAL_MSG_NETWORK_RECONNECT, &value, 4);
    hdext::periph::release_pairing_handlers();
    return 0;
}

int app_factory_reset() {
    std::printf("#####app#####-type:factory reset ");
    if (auto fn = g_display_clear.load()) fn();
    release_for_restart();
    return send_param(0x1000, kMsgParamFactoryReset, 0);
}

int app_factory_reboot() {
    std::printf("#####app#####-type:factory reboot ");
    release_for_restart();
    return send_param(0x1000, kMsgParamReboot, 0);
}

int app_save_sys_info_video_quality(int value) {
    return save_value("#####app_save_sys_info_video_quality#####vec_qual: %d \n", kMsgParamQuality, value);
}
int app_save_sys_info_language(int value) {
    return save_value("#####app_save_sys_info_language#####language: %d \n", kMsgParamLanguage, value);
}
int app_save_sys_info_fan(int value) {
    return save_value("#####app_save_sys_info_fan#####fan mode: %d \n", kMsgParamFan, value);
}
int app_save_sys_info_earphone_volume() {
    CParamConfig::ParamNotify(0x3000, 0x2001, nullptr, 0);
    return 0;
}
int app_save_sys_info_microphone_volume_onoff() {
    CParamConfig::ParamNotify(0x3000, 0x2001, nullptr, 0);
    return 0;
}
int app_get_microphone_volume_onoff() { return app_status[44].load(std::memory_order_relaxed); }
int app_wifi_onoff() { return 0; }
int app_set_earphone_volume() { return -1; }
int app_set_microphone_volume_onoff() { return -1; }

int wifi_level_from_quality(int n) {
    if (n >= 1 && n <= 40) return 5;
    if (n >= 41 && n <= 55) return 4;
    if (n >= 56 && n <= 70) return 3;
    if (n >= 71 && n <= 80) return 2;
    return 1;
}

int app_get_wifi_signal_level(int flag, uint8_t* out) {
    char text[10] = {0};
    if (flag == 0) get_wifi_info2(text);
    int n = std::atoi(text);
    if (n < 0 || n > 255) n = 0;
    *out = static_cast<uint8_t>(wifi_level_from_quality(n));
    return 0;
}
