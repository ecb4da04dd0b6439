// RX heartbeat: the sending thread (channel changes made here, signal level) and the
// receiving thread (TX format, channel, client number; decode-task messages; first link).
#include <pthread.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "core/dump_print.h"
#include "decode/video_decoder.h"
#include "periph/app_status.h"
#include "periph/input_state.h"
#include "settings/bitrate.h"
#include "settings/param_config.h"
#include "stream/heartbeat.h"
#include "stream/receiver.h"
#include "stream/rx_format.h"
#include "stream/stream_config.h"
#include "stream/stream_net.h"

std::mutex HB_mutex;
int sync_channel = 0;
std::atomic<int> g_CurrResolution{0};

namespace {

using hdext::stream::config;

constexpr int kDecodeNoInput = 2; // VDEC_TYPE_CHECK_HDMI

int link_hb_socket() {
    std::lock_guard<std::mutex> g(gr_mutex);
    return pReceiver->m_hbSock;
}

void tell_decoder(unsigned id, int32_t value, bool with_value) {
    notify_decoding_task(kMidReceiver, id, with_value ? reinterpret_cast<char*>(&value) : nullptr,
                         with_value ? static_cast<int>(sizeof value) : 0);
}

} // namespace

void* HB_RX_send_data(void*) {
    pthread_setname_np(pthread_self(), "HB_RX_send");
    std::printf("###### ###### HB_RX_send_data\n");
    const int fd = link_hb_socket();
    uint8_t msg[hb::kLen] = {};
    hb::put_type(msg, hb::kTypeRx);
    CParamConfig* param = CParamConfig::Instance();
    int last_configured = param->GetWifiChn();
    {
        std::lock_guard<std::mutex> g(HB_mutex);
        sync_channel = last_configured;
    }
    uint8_t level = 0;
    for (unsigned sent = 0;;) {
        // Only a channel changed here is announced; one that this unit is still storing after
        // the TX told it (configured lags sync_channel for a moment) is not sent back.
        const int configured = param->GetWifiChn();
        {
            std::lock_guard<std::mutex> g(HB_mutex);
            if (configured != last_configured && configured != sync_channel &&
                !RESET_EN.load(std::memory_order_relaxed)) {
                msg[hb::kChanged] = 1;
                msg[hb::kChannel] = static_cast<uint8_t>(configured);
                sync_channel = configured;
            } else {
                msg[hb::kChanged] = 0;
                msg[hb::kChannel] = static_cast<uint8_t>(sync_channel);
            }
        }
        last_configured = configured;
        msg[hb::kSignal] = level;
        if (hdext::stream::send_all(fd, msg, hb::kLen) < 1) {
            DUMP(3, "333 HB send error ,error = %s \n", strerror(errno));
            break;
        }
        ++sent;
        // A link torn down meanwhile (or closed by the TX) ends the wait and the thread at once.
        if (!hdext::stream::wait_watching(fd, std::chrono::steady_clock::now() + config().hb_period)) break;
        if (sent % 3 == 2 && hdext::stream::hooks().signal_level) {
            level = static_cast<uint8_t>(hdext::stream::hooks().signal_level());
            app_status[35].store(level, std::memory_order_relaxed);
        }
    }
    hdext::stream::link_thread_end("333 send HB data exit, link= %d \n");
    return nullptr;
}

namespace hdext::stream {

void rx_take_heartbeat(const uint8_t* msg, int& present_seen) {
    app_status[14].store(0, std::memory_order_relaxed);
    app_status[16].store(msg[hb::kClient], std::memory_order_relaxed);
    app_status[2].store(msg[hb::kTiming], std::memory_order_relaxed);

    const int channel = msg[hb::kChannel];
    bool moved = false;
    if (channel) {
        std::lock_guard<std::mutex> g(HB_mutex);
        if (channel != sync_channel) {
            std::printf("recv channel: %d, old channel: %d\n", channel, sync_channel);
            sync_channel = channel;
            moved = true;
        }
    }
    if (moved) {
        const int32_t data[2] = {channel, 0};
        MSG_INFO m{kMidReceiver, kMidParam, kMsgParamStoreChannel, sizeof data, data};
        send_msg(&m);
    }

    const int timing = static_cast<int>(hb::get32(msg, hb::kTiming));
    const int audio = static_cast<int>(hb::get32(msg, hb::kAudio));
    const int present = msg[hb::kPresent];
    MaxW_ATT.store(static_cast<int>(hb::get32(msg, hb::kWidth)), std::memory_order_relaxed);
    MaxH_ATT.store(static_cast<int>(hb::get32(msg, hb::kHeight)), std::memory_order_relaxed);
    FrameRate.store(static_cast<int>(hb::get32(msg, hb::kRate)), std::memory_order_relaxed);
    VO_SYNC_ATT.store(timing, std::memory_order_relaxed);

    if (timing != hb::kNoTiming) {
        switch (FirstLink.load(std::memory_order_relaxed)) {
        case 0:
            g_CurrResolution.store(timing, std::memory_order_relaxed);
            AudioSampling.store(audio, std::memory_order_relaxed);
            FirstLink.store(1, std::memory_order_relaxed);
            if (hooks().start_media) hooks().start_media(1);
            StartReceiver();
            break;
        case 2:
            FirstLink.store(1, std::memory_order_relaxed);
            StartReceiver();
            break;
        default:
            break;
        }
    }
    if (timing == hb::kNoTiming || present != 1) {
        if (present != present_seen) tell_decoder(kMsgDecodeShowPicture, kDecodeNoInput, true);
        present_seen = present;
        return;
    }
    if (present_seen != 1) {
        tell_decoder(kMsgDecodeStartVideo, 0, true);
        g_CurrResolution.store(timing, std::memory_order_relaxed);
    } else if (g_CurrResolution.load(std::memory_order_relaxed) != timing) {
        g_CurrResolution.store(timing, std::memory_order_relaxed);
        tell_decoder(kMsgDecodeRestart, 0, false);
    }
    if (audio != AudioSampling.load(std::memory_order_relaxed) && audio != static_cast<int>(hb::kNoAudio)) {
        AudioSampling.store(audio, std::memory_order_relaxed);
        tell_decoder(kMsgDecodeSampling, audio, true);
    }
    present_seen = 1;
}

} // namespace hdext::stream

void* HB_RX_recv_data(void*) {
    pthread_setname_np(pthread_self(), "HB_RX_recv");
    std::printf("###### ###### HB_RX_recv_data\n");
    const int fd = link_hb_socket();
    {
        std::lock_guard<std::mutex> g(HB_mutex);
        sync_channel = CParamConfig::Instance()->GetWifiChn();
    }
    int present_seen = -1;
    uint8_t msg[hb::kLen];
    while (Recv_HB_Data(fd, msg, hb::kLen) == hb::kLen) hdext::stream::rx_take_heartbeat(msg, present_seen);
    hdext::stream::link_thread_end("222 recv HB data exit, link= %d \n");
    return nullptr;
}
