#include "settings/param_config.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <random>
#include <thread>

#include "board/board.h"
#include "board/gpio.h"
#include "board/role.h"
#include "core/dump_print.h"
#include "core/ini.h"
#include "periph/app_status.h"
#include "settings/bitrate.h"

CParamConfig* g_pParamConfig = nullptr;

namespace {

SETTINGS_BLOCK g_settings;

// Copies text into a fixed field, always terminated.
void put_text(char* field, size_t size, const char* text) {
    memset(field, 0, size);
    if (text) memcpy(field, text, strnlen(text, size - 1));
}

} // namespace

int quality_to_bitrate(int quality) {
    switch (quality) {
    case 0: return 12;
    case 1: return 8;
    case 2: return 6;
    default: return -1;
    }
}

CParamConfig* CParamConfig::Instance() {
    static CParamConfig* one = [] {
        auto* c = new CParamConfig();
        c->m_block = &g_settings;
        return c;
    }();
    return one;
}

void CParamConfig::SetTiming(const ParamTiming& t) {
    std::lock_guard<std::recursive_mutex> g(m_lock);
    m_timing = t;
}

void CParamConfig::SetHooks(const ParamHooks& h) {
    std::lock_guard<std::recursive_mutex> g(m_lock);
    m_hooks = h;
}

void CParamConfig::settle() {
    std::chrono::milliseconds d;
    {
        std::lock_guard<std::recursive_mutex> g(m_lock);
        d = m_timing.settle;
    }
    std::this_thread::sleep_for(d);
}

void CParamConfig::reboot_wait() {
    std::chrono::milliseconds d;
    {
        std::lock_guard<std::recursive_mutex> g(m_lock);
        d = m_timing.reboot_wait;
    }
    std::this_thread::sleep_for(d);
}

// ---- readers -------------------------------------------------------------------------------

void CParamConfig::GetWifiInfo(ABS_WIFI_AP_CONFIG_t* out) {
    std::lock_guard<std::recursive_mutex> g(m_lock);
    if (out) *out = m_block->wifi;
}

void CParamConfig::set_wifi_ap_info(const ABS_WIFI_AP_CONFIG_t* in) {
    std::lock_guard<std::recursive_mutex> g(m_lock);
    if (in && wifi_storable(*in)) m_block->wifi = *in;
}

// wifi.ini could not give back a text holding ';' (or '[' with ']'): such a network name or
// passphrase would silently change at the next start, so it is refused and the stored one kept.
bool wifi_storable(const ABS_WIFI_AP_CONFIG_t& w) {
    const struct {
        const char* what;
        const char* text;
    } fields[] = {{"SSID", w.ssid},
                  {"passphrase", w.password},
                  {"IP address", w.ip},
                  {"bridge SSID", w.bridge_ssid},
                  {"bridge passphrase", w.bridge_password}};
    for (const auto& f : fields) {
        if (IniValueStorable(f.text)) continue;
        fprintf(stderr,
                "Wi-Fi settings refused: the %s holds ';' or both '[' and ']', which %s cannot "
                "keep; the stored settings stay\n",
                f.what, kWifiIniPath);
        return false;
    }
    return true;
}

int CParamConfig::GetWifiChn() {
    std::lock_guard<std::recursive_mutex> g(m_lock);
    return m_block->wifi.channel;
}

int CParamConfig::get_wifi_enable() {
    std::lock_guard<std::recursive_mutex> g(m_lock);
    return m_block->wifi.enable;
}

int CParamConfig::get_wifi_hidden() {
    std::lock_guard<std::recursive_mutex> g(m_lock);
    return m_block->wifi.hidden ? 1 : 0;
}

void CParamConfig::GetSystemInfo(ABS_SYS_INFO_CONFIG* out) {
    std::lock_guard<std::recursive_mutex> g(m_lock);
    if (out) *out = m_block->sys;
}

void CParamConfig::SetSystemInfo(const ABS_SYS_INFO_CONFIG* in) {
    std::lock_guard<std::recursive_mutex> g(m_lock);
    if (in) m_block->sys = *in;
}

// ---- start-up ------------------------------------------------------------------------------

int CParamConfig::Init() {
    printf("Parameter module initialize ..............\n");
    for (const char* file : {kSystemIniPath, kWifiIniPath})
        RemoveIniTemps(hdext::board::path(file).c_str());
    {
        std::lock_guard<std::recursive_mutex> g(m_lock);
        memset(m_block, 0, sizeof *m_block);
    }
    init_sys_info();
    init_wifi_ap_info();
    apply_quality_at_start();
    {
        std::lock_guard<std::recursive_mutex> g(m_lock);
        if (m_block->sys.language > 1) m_block->sys.language = 0;
    }
    save_sys_info_to_file();
    settle();
    init_fan();
    set_sys_pin_code();
    std::lock_guard<std::recursive_mutex> g(m_lock);
    app_status_init(m_block);
    return 0;
}

void CParamConfig::init_sys_info() {
    std::lock_guard<std::recursive_mutex> g(m_lock);
    if (load_table(nullptr, kSystemIniPath) == 0) return;
    ABS_SYS_INFO_CONFIG& s = m_block->sys;
    put_text(s.pincode, sizeof s.pincode, "0");
    s.quality = 2;
    s.maxclie = 3;
    s.fanmode = 1;
    s.language = 0;
    if (save_sys_info_to_file() != 0) DUMP(1, "WriteIniFile : %s FAILD", kSystemIniPath);
}

int CParamConfig::init_wifi_ap_info() {
    bool created = false;
    {
        std::lock_guard<std::recursive_mutex> g(m_lock);
        ABS_WIFI_AP_CONFIG_t& w = m_block->wifi;
        if (load_table(nullptr, kWifiIniPath) != 0) {
            put_text(w.password, sizeof w.password, "518T302B46");
            put_text(w.ssid, sizeof w.ssid, kDefaultSsid);
            w.password_modify = 0;
            w.bandwidth = 0;
            w.authentication = 4;
            put_text(w.ip, sizeof w.ip, "192.168.168.1");
            w.hidden = 0;
            w.channel = kDefaultChannel;
            w.mode = 1;
            w.enable = 1;
            w.bridge_encrypt_length = 1;
            w.bridge_default_key_index = 1;
            w.bridge_encryption = 1;
            w.bridge_authentication = 0;
            put_text(w.bridge_password, sizeof w.bridge_password, "");
            put_text(w.bridge_ssid, sizeof w.bridge_ssid, "");
            if (save_wifi_ap_to_file() != 0) {
                DUMP(1, "WriteIniFile : %s FAILD", kWifiIniPath);
                return -1;
            }
            created = true;
        }
    }
    if (created) settle();
    bool zelt;
    {
        std::lock_guard<std::recursive_mutex> g(m_lock);
        ABS_WIFI_AP_CONFIG_t& w = m_block->wifi;
        zelt = strncmp(w.ssid, "QUENDOR_ZELT", 12) == 0;
        if (zelt) {
            put_text(w.ssid, sizeof w.ssid, kDefaultSsid);
            w.channel = kDefaultChannel;
            save_wifi_ap_to_file();
        }
    }
    if (zelt) settle();
    // A channel outside the supported set (a 2.4 GHz one, or one written by an older build)
    // would keep the access point from ever starting: the unit comes back on the default.
    bool unsupported;
    {
        std::lock_guard<std::recursive_mutex> g(m_lock);
        ABS_WIFI_AP_CONFIG_t& w = m_block->wifi;
        unsupported = !channel_supported(w.channel);
        if (unsupported) {
            report_unsupported_channel(w.channel, "falling back to the default channel 36");
            w.channel = kDefaultChannel;
            save_wifi_ap_to_file();
        }
    }
    if (unsupported) settle();

    if (g_EquipmentModel.load(std::memory_order_relaxed) != EQUIPMENT_MODEL_TX) return 0;
    bool renamed = false;
    {
        std::lock_guard<std::recursive_mutex> g(m_lock);
        ABS_WIFI_AP_CONFIG_t& w = m_block->wifi;
        if (strstr(w.ssid, kDefaultSsid)) {
            unsigned char mac[6] = {};
            // An unreadable MAC still gives a name (from zero bytes): receivers take
            // "QUENDOR_DEFAULT" for an unpaired unit, so a TX must never keep it.
            if (!hdext::board::read_mac("wlan0", mac))
                fprintf(stderr, "GetMac wlan0 failed, naming the unit from a zero address\n");
            char name[36];
            snprintf(name, sizeof name, "%s%02X%02X%02X", "QUENDOR_", mac[3], mac[4], mac[5]);
            put_text(w.ssid, sizeof w.ssid, name);
            save_wifi_ap_to_file();
            renamed = true;
        }
    }
    if (renamed) settle();
    return 0;
}

void CParamConfig::apply_quality_at_start() {
    {
        std::lock_guard<std::recursive_mutex> g(m_lock);
        ABS_SYS_INFO_CONFIG& s = m_block->sys;
        int step = quality_to_bitrate(s.quality);
        if (step < 0) {
            s.quality = 2;
            step = 6;
        }
        s.maxclie = 3;
        BitRate.store(step, std::memory_order_relaxed);
        m_appliedStep = step;
        save_sys_info_to_file();
    }
    settle();
}

// A direct GPIO write stands in for each "echo V > /sys/class/gpio/..." command.
void CParamConfig::init_fan() {
    uint8_t mode;
    {
        std::lock_guard<std::recursive_mutex> g(m_lock);
        mode = m_block->sys.fanmode;
    }
    hdext::board::gpio::export_line(kFanGpio);
    hdext::board::gpio::set_direction(kFanGpio, "out");
    if (mode <= 1) hdext::board::gpio::set_value(kFanGpio, mode);
}

void CParamConfig::set_sys_pin_code() {
    std::lock_guard<std::recursive_mutex> g(m_lock);
    ABS_SYS_INFO_CONFIG& s = m_block->sys;
    int pin = atoi(s.pincode);
    if (pin != 0) {
        DUMP(3, "pin code set to pin_num: %d\n", pin);
        return;
    }
    std::minstd_rand rng(static_cast<unsigned>(time(nullptr)));
    unsigned r = static_cast<unsigned>(rng());
    snprintf(s.pincode, sizeof s.pincode, "%u", 1000 + r % 9000);
    DUMP(3, "set to sys_pin_code: %s\n", s.pincode);
    save_sys_info_to_file();
}

int CreateParamTask(CParamConfig* config) {
    g_pParamConfig = config;
    config->Init();
    printf("g_pParamConfig->Init finish\n");
    return register_task(kMidParam, nullptr, CParamConfig::InitParamConfig, 0) == 1 ? 0 : -1;
}
