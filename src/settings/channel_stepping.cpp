// Which channels the unit works on, and next/previous channel of the stepping table for the
// channel buttons and menus.
#include <cstdio>

#include "settings/param_config.h"

namespace {
constexpr int kChannels[] = {36, 40, 44, 48, 149, 153, 157, 161};
constexpr int kCount = sizeof kChannels / sizeof kChannels[0];

int position(int ch) {
    for (int i = 0; i < kCount; ++i)
        if (kChannels[i] == ch) return i;
    return -1;
}
} // namespace

bool channel_supported(int channel) {
    for (const channel_freq& c : ch_fre)
        if (c.channel == channel) return true;
    return false;
}

bool channel_steppable(int channel) { return position(channel) >= 0; }

void report_unsupported_channel(int channel, const char* outcome) {
    char list[4 * kChFreCount + 1] = {};
    size_t at = 0;
    for (int i = 0; i < kChFreCount && at < sizeof list; ++i)
        at += static_cast<size_t>(snprintf(list + at, sizeof list - at, i ? " %d" : "%d", ch_fre[i].channel));
    printf("channel %d is not supported (supported: %s): %s\n", channel, list, outcome);
}

void CParamConfig::take_stepping_state() {
    if (m_stepTaken) return;
    m_stepTaken = true;
    m_block->wifi.bandwidth_in_use = m_block->wifi.bandwidth;
    m_block->wifi.channel_in_use = m_block->wifi.channel;
}

int CParamConfig::GetWifiSupportNextChn5G(ABS_WIFI_CHN_INFO_t* info) {
    std::lock_guard<std::recursive_mutex> g(m_lock);
    ABS_WIFI_AP_CONFIG_t& w = m_block->wifi;
    take_stepping_state();
    if (w.bandwidth_in_use == 0) {
        int cur = w.channel_in_use;
        int i = position(cur);
        printf("###app11###GetWifiSupportNextChn5G : %d, bandwidth=%d:i=%d\n", cur, w.bandwidth_in_use, i);
        if (cur > 160) {
            *info = {static_cast<uint8_t>(kChannels[0]), 0};
        } else if (i >= 0) {
            *info = {static_cast<uint8_t>(kChannels[i + 1 < kCount ? i + 1 : 0]), 0};
        }
        printf("###app12###GetWifiSupportNextChn5G : %d, bandwidth=%d:i=%d\n", info->channel,
               info->bandwidth, i);
    }
    w.channel_in_use = info->channel;
    w.bandwidth_in_use = info->bandwidth;
    return -1;
}

int CParamConfig::GetWifiSupportPrevChn5G(ABS_WIFI_CHN_INFO_t* info) {
    std::lock_guard<std::recursive_mutex> g(m_lock);
    ABS_WIFI_AP_CONFIG_t& w = m_block->wifi;
    take_stepping_state();
    if (w.bandwidth_in_use == 0) {
        int cur = w.channel_in_use;
        printf("###app100###GetWifiSupportPrevChn5G : %d, bandwidth=%d\n", cur, w.bandwidth_in_use);
        int i = position(cur);
        if (cur < 37) {
            *info = {static_cast<uint8_t>(kChannels[kCount - 1]), 0};
        } else if (i > 0) {
            *info = {static_cast<uint8_t>(kChannels[i - 1]), 0};
        }
    }
    w.channel_in_use = info->channel;
    w.bandwidth_in_use = info->bandwidth;
    return -1;
}
