// The parameter task: the only thread that changes the settings after start-up.
#include <cstdio>
#include <cstring>
#include <string>

#include "board/board.h"
#include "board/gpio.h"
#include "board/role.h"
#include "board/shell.h"
#include "core/dump_print.h"
#include "core/event.h"
#include "net/pairing_messages.h"
#include "periph/app_status.h"
#include "settings/bitrate.h"
#include "settings/param_config.h"

namespace {

void take_text(char* field, size_t size, const uint8_t* src, size_t n) {
    memset(field, 0, size);
    size_t len = strnlen(reinterpret_cast<const char*>(src), n);
    if (len > size - 1) len = size - 1;
    memcpy(field, src, len);
}

} // namespace

int CParamConfig::ParamNotify(uint32_t src, uint32_t msgid, const void* data, uint32_t len) {
    MSG_INFO m{src, kMidParam, msgid, len, data};
    return send_msg(&m);
}

void CParamConfig::InitParamConfig(THR_TASK* task) { register_msg_handler(task, MsgHandler); }

void CParamConfig::MsgHandler(THR_TASK*, MQ_LIST* msg) {
    if (!msg || !g_pParamConfig) return;
    g_pParamConfig->HandleMessage(msg->msg_id, msg->data, msg->len);
}

void CParamConfig::HandleMessage(uint32_t msg_id, const void* data, uint32_t len) {
    const auto* bytes = static_cast<const uint8_t*>(data);
    // Every message that reads a payload needs at least the bytes it reads.
    auto has = [&](uint32_t n) { return bytes != nullptr && len >= n; };

    switch (msg_id) {
    case kMsgParamWifiCredentials: {
        if (!has(kPairingReplyLen)) {
            fprintf(stderr, "credentials reply too short: %u bytes\n", len);
            return;
        }
        std::lock_guard<std::recursive_mutex> g(m_lock);
        ABS_WIFI_AP_CONFIG_t w = m_block->wifi;
        take_text(w.ssid, sizeof w.ssid, bytes + kPairingSsidOffset, kPairingFieldLen);
        take_text(w.password, sizeof w.password, bytes + kPairingPasswordOffset, kPairingFieldLen);
        if (!wifi_storable(w)) return;
        m_block->wifi = w;
        printf("Set WIFI new SSID : %s\n", w.ssid);
        printf("Set WIFI new Passwd : %s\n", w.password);
        save_wifi_ap_to_file();
        return;
    }
    case LOCAL_MSG_CHANGE_WIFI_CHANNEL:
        if (has(1)) change_channel(data, len);
        return;
    case kMsgParamFan: {
        if (!has(1)) return;
        {
            std::lock_guard<std::recursive_mutex> g(m_lock);
            m_block->sys.fanmode = bytes[0];
            // A direct GPIO write stands in for "echo V > /sys/class/gpio/gpio101/value".
            if (bytes[0] <= 1) hdext::board::gpio::set_value(kFanGpio, bytes[0]);
            save_sys_info_to_file();
        }
        settle();
        return;
    }
    case kMsgParamQuality:
        if (!has(1)) return;
        set_quality(bytes[0]);
        save_sys_info_to_file();
        settle();
        return;
    case kMsgParamLanguage: {
        if (!has(1)) return;
        {
            std::lock_guard<std::recursive_mutex> g(m_lock);
            m_block->sys.language = bytes[0];
            save_sys_info_to_file();
        }
        settle();
        return;
    }
    case kMsgParamFactoryReset:
        factory_reset();
        return;
    case kMsgParamReboot:
        reboot_wait();
        system_cmd("reboot -f", 10);
        reboot_wait();
        return;
    case kMsgParamStoreChannel:
        if (has(1)) store_channel(bytes[0]);
        return;
    case kMsgParamLeds:
        if (has(1)) DUMP(3, "leds: %d", bytes[0]);
        return;
    default:
        return;
    }
}

void CParamConfig::change_channel(const void* data, uint32_t len) {
    const auto* bytes = static_cast<const uint8_t*>(data);
    ABS_WIFI_CHN_INFO_t info{bytes[0], static_cast<uint8_t>(len >= 2 ? bytes[1] : 0)};
    printf("set channel is :::::: %d\n", info.channel);
    printf("LOCAL_MSG_CHANGE_WIFI_CHANNEL ch = %d pChnInfo->bandwidth = %d \n", info.channel,
           info.bandwidth);
    if (info.channel < kDefaultChannel) {
        printf("the channel is invalid\n");
        return;
    }
    if (!channel_supported(info.channel)) {
        report_unsupported_channel(info.channel, "refused, nothing changed");
        return;
    }
    {
        std::lock_guard<std::recursive_mutex> g(m_lock);
        ABS_WIFI_AP_CONFIG_t& w = m_block->wifi;
        uint8_t prev = w.channel;
        w.channel = info.channel;
        w.channel_in_use = info.channel;
        app_status[31].store(info.channel, std::memory_order_relaxed);
        w.bandwidth = info.bandwidth;
        if (info.channel == prev) {
            printf("the channel is same as before\n");
            return;
        }
        save_wifi_ap_to_file();
    }
    if (g_EquipmentModel.load(std::memory_order_relaxed) == EQUIPMENT_MODEL_TX) {
        MSG_INFO m{kMidParam, kMidNetwork, LOCAL_MSG_CHANGE_WIFI_CHANNEL, sizeof info, &info};
        send_msg(&m);
    }
}

void CParamConfig::store_channel(uint8_t ch) {
    if (!channel_supported(ch)) {
        report_unsupported_channel(ch, "refused, nothing changed");
        return;
    }
    std::lock_guard<std::recursive_mutex> g(m_lock);
    m_block->wifi.channel = ch;
    app_status[31].store(ch, std::memory_order_relaxed);
    save_wifi_ap_to_file();
}

void CParamConfig::set_quality(uint8_t q) {
    void (*restart)() = nullptr;
    {
        std::lock_guard<std::recursive_mutex> g(m_lock);
        m_block->sys.quality = q;
        int step = quality_to_bitrate(q);
        if (step < 0) return;  // unknown value: stored, but the current step stays
        m_block->sys.maxclie = 3;
        if (step == m_appliedStep) return;
        m_appliedStep = step;
        BitRate.store(step, std::memory_order_relaxed);
        restart = m_hooks.restart_video_input;
    }
    if (restart) restart();
}

void CParamConfig::factory_reset() {
    RESET_EN.store(1, std::memory_order_relaxed);
    {
        std::lock_guard<std::recursive_mutex> g(m_lock);
        ABS_WIFI_AP_CONFIG_t& w = m_block->wifi;
        memset(w.ssid, 0, sizeof w.ssid);
        memcpy(w.ssid, kDefaultSsid, strlen(kDefaultSsid));
        w.channel = kDefaultChannel;
        w.bandwidth = 0;
        save_wifi_ap_to_file();
    }
    settle();
    {
        std::lock_guard<std::recursive_mutex> g(m_lock);
        ABS_SYS_INFO_CONFIG& s = m_block->sys;
        memset(s.pincode, 0, sizeof s.pincode);
        s.pincode[0] = '0';
        s.quality = 2;
        s.maxclie = 3;
        s.fanmode = 1;
        s.language = 0;
        save_sys_info_to_file();
    }
    settle();
    reboot_wait();
    system_cmd(("rm " + hdext::board::path("/etc/uuidList") + " -rf").c_str(), 10);
    system_cmd("reboot -f", 10);
    reboot_wait();
}
