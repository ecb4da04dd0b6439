// The two key tables and their load/save through the INI document store.
#include <cstring>
#include <string>
#include <vector>

#include "board/board.h"
#include "core/ini.h"
#include "settings/param_config.h"

namespace {

constexpr int kInt32 = 1, kString = 2, kUint8 = 3, kDouble = 4, kInt16 = 5;

std::vector<INI_HEAD_INFO> wifi_table(ABS_WIFI_AP_CONFIG_t& w) {
    return {
        {kString, sizeof w.password, "AP", "password", w.password},
        {kString, sizeof w.ssid, "AP", "ssid", w.ssid},
        {kUint8, 1, "AP", "password_modify", &w.password_modify},
        {kUint8, 1, "AP", "bandwidth", &w.bandwidth},
        {kUint8, 1, "AP", "authentication", &w.authentication},
        {kString, sizeof w.ip, "AP", "ip", w.ip},
        {kUint8, 1, "AP", "hidden", &w.hidden},
        {kUint8, 1, "AP", "channel", &w.channel},
        {kUint8, 1, "AP", "mode", &w.mode},
        {kUint8, 1, "AP", "enable", &w.enable},
        {kUint8, 1, "BRIDGE", "encrypt_length", &w.bridge_encrypt_length},
        {kUint8, 1, "BRIDGE", "default_key_index", &w.bridge_default_key_index},
        {kUint8, 1, "BRIDGE", "encryption", &w.bridge_encryption},
        {kUint8, 1, "BRIDGE", "authentication", &w.bridge_authentication},
        {kString, sizeof w.bridge_password, "BRIDGE", "password", w.bridge_password},
        {kString, sizeof w.bridge_ssid, "BRIDGE", "ssid", w.bridge_ssid},
        {0, 0, nullptr, nullptr, nullptr},
    };
}

std::vector<INI_HEAD_INFO> sys_table(ABS_SYS_INFO_CONFIG& s) {
    return {
        {kString, sizeof s.pincode, "sys_info", "pincode", s.pincode},
        {kUint8, 1, "sys_info", "quality", &s.quality},
        {kUint8, 1, "sys_info", "maxclie", &s.maxclie},
        {kUint8, 1, "sys_info", "fanmode", &s.fanmode},
        {kUint8, 1, "sys_info", "language", &s.language},
        {0, 0, nullptr, nullptr, nullptr},
    };
}

// A key missing from the file leaves the field as it is.
void read_param(const INI_HEAD_INFO& r) {
    switch (r.type) {
    case kInt32: {
        auto* p = static_cast<int32_t*>(r.field);
        *p = ReadInt(r.section, r.key, *p);
        break;
    }
    case kString: {
        auto* p = static_cast<char*>(r.field);
        std::string cur(p, strnlen(p, r.length));
        const char* v = ReadString(r.section, r.key, cur.c_str());
        // A stored value longer than the field is cut, never run past it.
        memset(p, 0, r.length);
        memcpy(p, v, strnlen(v, r.length - 1));
        break;
    }
    case kUint8: {
        auto* p = static_cast<uint8_t*>(r.field);
        *p = static_cast<uint8_t>(ReadInt(r.section, r.key, *p));
        break;
    }
    case kDouble: {
        auto* p = static_cast<double*>(r.field);
        *p = ReadDouble(r.section, r.key, *p);
        break;
    }
    case kInt16: {
        auto* p = static_cast<int16_t*>(r.field);
        *p = static_cast<int16_t>(ReadInt(r.section, r.key, *p));
        break;
    }
    default:
        break;
    }
}

void write_param(const INI_HEAD_INFO& r) {
    switch (r.type) {
    case kInt32: WriteInt(r.section, r.key, *static_cast<int32_t*>(r.field)); break;
    case kString: {
        auto* p = static_cast<char*>(r.field);
        std::string v(p, strnlen(p, r.length));
        WriteString(r.section, r.key, v.c_str());
        break;
    }
    case kUint8: WriteInt(r.section, r.key, *static_cast<uint8_t*>(r.field)); break;
    case kDouble: WriteDouble(r.section, r.key, *static_cast<double*>(r.field)); break;
    case kInt16: WriteInt(r.section, r.key, *static_cast<int16_t*>(r.field)); break;
    default: break;
    }
}

} // namespace

// table == nullptr picks the table of that file. Callers hold m_lock (the INI document is
// process-wide).
int CParamConfig::load_table(const INI_HEAD_INFO* table, const char* file) {
    std::vector<INI_HEAD_INFO> rows;
    if (!table) {
        rows = strcmp(file, kWifiIniPath) == 0 ? wifi_table(m_block->wifi) : sys_table(m_block->sys);
        table = rows.data();
    }
    if (OpenIniFile(hdext::board::path(file).c_str()) != 1) {
        CloseIniFile();
        return -1;
    }
    for (const INI_HEAD_INFO* r = table; r->type != 0; ++r) read_param(*r);
    CloseIniFile();
    return 0;
}

int CParamConfig::save_table(const INI_HEAD_INFO* table, const char* file) {
    CloseIniFile();
    for (const INI_HEAD_INFO* r = table; r->type != 0; ++r) write_param(*r);
    int ok = WriteIniFile(hdext::board::path(file).c_str());
    CloseIniFile();
    return ok == 1 ? 0 : -1;
}

int CParamConfig::save_wifi_ap_to_file() {
    std::lock_guard<std::recursive_mutex> g(m_lock);
    auto rows = wifi_table(m_block->wifi);
    return save_table(rows.data(), kWifiIniPath);
}

int CParamConfig::save_sys_info_to_file() {
    std::lock_guard<std::recursive_mutex> g(m_lock);
    auto rows = sys_table(m_block->sys);
    return save_table(rows.data(), kSystemIniPath);
}
