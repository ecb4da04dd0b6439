// Best-channel search from a Wi-Fi scan, and moving the running access point to another channel.
#include <cstdio>
#include <cstring>
#include <string>

#include "board/board.h"
#include "board/shell.h"
#include "net/network_task.h"
#include "settings/param_config.h"

namespace {

struct ChnScore {
    uint8_t channel;
    uint16_t score;
};
constexpr uint8_t kScoreChannels[44] = {36,  38,  40,  42,  44,  46,  48,  50,  52,  54,  56,
                                        58,  60,  62,  64,  100, 102, 104, 106, 108, 110, 112,
                                        114, 116, 118, 120, 122, 124, 126, 128, 132, 134, 136,
                                        138, 140, 142, 144, 149, 151, 153, 155, 157, 159, 161};

int index_of(int ch) {
    for (int i = 0; i < 44; ++i)
        if (kScoreChannels[i] == ch) return i;
    return -1;
}

void add(ChnScore* t, int ch, int points) {
    int i = index_of(ch);
    if (i >= 0) t[i].score = static_cast<uint16_t>(t[i].score + points);
}

void score_line(ChnScore* t, const char* line) {
    const char* at = strstr(line, "Channel");
    if (!at) return;
    char num[4] = {};
    // Up to three characters after "Channel" and one separator, up to a ")".
    if (at[7] == '\0' || sscanf(at + 8, "%3[^)]", num) != 1) return;
    int n = atoi(num);
    switch (n) {
    case 36: add(t, 36, 4), add(t, 38, 3), add(t, 40, 2), add(t, 42, 1); return;
    case 157: add(t, 155, 3), add(t, 157, 4), add(t, 159, 3), add(t, 161, 2); return;
    case 159: add(t, 157, 3), add(t, 159, 4), add(t, 161, 3); return;
    case 161: add(t, 159, 3), add(t, 161, 4); return;
    default: break;
    }
    int i = index_of(n);
    if (i < 1 || i > 40) return;  // the second to the forty-first entry
    t[i - 1].score = static_cast<uint16_t>(t[i - 1].score + 3);
    t[i].score = static_cast<uint16_t>(t[i].score + 4);
    t[i + 1].score = static_cast<uint16_t>(t[i + 1].score + 3);
    t[i + 2].score = static_cast<uint16_t>(t[i + 2].score + 2);
    t[i + 3].score = static_cast<uint16_t>(t[i + 3].score + 1);
}

void print_scores(const ChnScore* t) {
    int k = 0;
    for (int row = 1; row <= 5; ++row) {
        printf("Score %d: ", row);
        int n = row == 5 ? 4 : 10;
        for (int j = 0; j < n; ++j, ++k)
            printf("CHN_%d[%d]%s", t[k].channel, t[k].score, j + 1 < n ? ", " : "\n");
    }
}

int choose(const ChnScore* t) {
    int best = 65535, at = 0;
    for (int i = 0; i < 44; ++i) {
        if (t[i].score <= best) {
            best = t[i].score;
            at = i;
        }
    }
    return at;
}

} // namespace

int channel_to_freq(int channel) {
    if (channel == 36) return 5180;
    for (int i = 0; i < kChFreCount; ++i)
        if (ch_fre[i].channel == channel) return ch_fre[i].freq;
    return 0;
}

int CNetworkTask::WirelessCalibration() {
    const std::string scan = hdext::board::path("/tmp/scan.txt");
    const std::string pScanning = "iwlist wlan0 scanning | grep \"Channel\" > " + scan;
    auto pipe = hdext::board::shell()->open(pScanning);
    if (!pipe) return -1;
    pipe->close();
    FILE* f = fopen(scan.c_str(), "r");
    if (!f) return -1;
    ChnScore table[44];
    for (int i = 0; i < 44; ++i) table[i] = {kScoreChannels[i], 0};
    char line[128];
    while (fgets(line, sizeof line, f)) score_line(table, line);
    fclose(f);
    print_scores(table);
    int at = choose(table);
    while (!channel_steppable(table[at].channel)) {
        printf("Found the best channel is:%d, but we can not support this channel\n", table[at].channel);
        table[at].score = 65535;
        at = choose(table);
    }
    printf("Found the best channel : %d\n", table[at].channel);
    uint8_t info[8] = {table[at].channel, 0};
    CParamConfig::ParamNotify(kMidNetwork, LOCAL_MSG_CHANGE_WIFI_CHANNEL, info, sizeof info);
    return 0;
}

int CNetworkTask::ChangeChn() {
    const ABS_WIFI_AP_CONFIG_t w = stored_wifi();
    printf("sizeof(ch_fre)/sizeof(channel_freq): %d, info.channel: %d\n", kChFreCount, w.channel);
    if (!channel_supported(w.channel)) {
        report_unsupported_channel(w.channel, "the access point keeps its channel");
        return -1;
    }
    int i = 0;
    while (i < kChFreCount && ch_fre[i].channel != w.channel) ++i;
    if (i == kChFreCount) return -1;
    char cmd[64];
    snprintf(cmd, sizeof cmd, "hostapd_cli chan_switch 5 %d\n", ch_fre[i].freq);
    system_cmd(cmd, 10);
    printf("ch_fre[%d].channel: %d, info.channel: %d, ch_fre[%d].freq: %d\n", i, ch_fre[i].channel,
           w.channel, i, ch_fre[i].freq);
    return 0;
}
