// TX heartbeat: the acceptor, the dispatcher and the receivers' client threads.
#include <arpa/inet.h>
#include <netdb.h>
#include <pthread.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "app/version.h"
#include "core/dump_print.h"
#include "net/network_task.h"
#include "periph/app_status.h"
#include "periph/input_state.h"
#include "settings/param_config.h"
#include "stream/acceptor.h"
#include "stream/heartbeat.h"
#include "stream/limits.h"
#include "stream/sender.h"
#include "stream/stream_config.h"
#include "stream/stream_net.h"

namespace {

using hdext::stream::config;

constexpr uint32_t kParamChannelSource = 4096;
constexpr const char* kAddressExists = "\n !!! ip address already exist, exit\n";

// Applies a supported-clients change to the slots: below it free, from it up disabled. A
// registration they held is over (its threads end at their next step).
void apply_supported(CSender* slots, int value, int& seen) {
    if (value == seen) return;
    for (int i = 0; i < kSenderSlots; ++i) {
        CSender& s = slots[i];
        if (s.m_state == SENDER_STATE_REGISTERED || s.m_state == SENDER_STATE_STREAMING) hdext::stream::slot_release(s);
        s.m_state = i < value ? SENDER_STATE_FREE : SENDER_STATE_DISABLED;
    }
    seen = value;
}

} // namespace

namespace hdext::stream {

void fill_input_fields(uint8_t* msg) {
    uint32_t w = 0, h = 0, rate = 0, timing = hb::kNoTiming, audio = hb::kNoAudio;
    switch (vi_mode.load(std::memory_order_relaxed)) {
    case 1:
        w = MaxW_3471_ATT.load(std::memory_order_relaxed);
        h = MaxH_3471_ATT.load(std::memory_order_relaxed);
        rate = FrameRate_3471.load(std::memory_order_relaxed);
        timing = VO_SYNC_3471_ATT.load(std::memory_order_relaxed);
        audio = AudioSampling_3471.load(std::memory_order_relaxed);
        break;
    case 2:
        w = MaxW_6911_ATT.load(std::memory_order_relaxed);
        h = MaxH_6911_ATT.load(std::memory_order_relaxed);
        rate = FrameRate_6911.load(std::memory_order_relaxed);
        timing = VO_SYNC_6911_ATT.load(std::memory_order_relaxed);
        audio = AudioSampling_6911.load(std::memory_order_relaxed);
        break;
    default:
        break;
    }
    hb::put32(msg, hb::kWidth, w);
    hb::put32(msg, hb::kHeight, h);
    hb::put32(msg, hb::kRate, rate);
    hb::put32(msg, hb::kTiming, timing);
    hb::put32(msg, hb::kAudio, audio);
    msg[hb::kPresent] = timing != static_cast<uint32_t>(hb::kNoTiming) ? 1 : 0;
}

void client_thread_started() { app_status[14].store(0, std::memory_order_relaxed); }

} // namespace hdext::stream

namespace {

void say_hb_step(const char* step, int) {
    if (!std::strcmp(step, "socket")) DUMP(3, "socket Faild");
    else if (!std::strcmp(step, "reuseaddr")) DUMP(3, "setsockopt reuseaddr faild ");
    else if (!std::strcmp(step, "linger")) DUMP(3, "setsockopt m_linger faild ");
    else DUMP(3, "bind %d Faild ", config().hb_port);
}

void say_hb_accept_error(int err) { DUMP(3, "HB accept error: %s\n", strerror(err)); }

} // namespace

void* HB_ProcessTX(void* arg) {
    using hdext::stream::LogBrake;
    using hdext::stream::refuse;
    auto* slots = static_cast<CSender*>(arg);
    pthread_setname_np(pthread_self(), "HB_ProcessTX");
    std::printf("###### ###### HB_ProcessTX thread PID=%lX.\n", hdext::stream::thread_id());
    hdext::stream::Acceptor acceptor("heartbeat", config().hb_port, say_hb_step, say_hb_accept_error);
    acceptor.open();
    LogBrake pairing_brake, over_brake, outside_brake, exists_brake, new_brake;
    int seen_supported = 0;
    for (;;) {
        sockaddr_in peer{};
        const int fd = acceptor.next(&peer);
        if (hdext::stream::set_time_out(fd, SO_RCVTIMEO, config().hb_timeout) < 0) {
            std::printf("setsockopt rcvtimeout faild\n");
            close(fd);
            continue;
        }
        // A peer that stops reading must not hold its client thread beyond the time-out.
        hdext::stream::set_time_out(fd, SO_SNDTIMEO, config().hb_timeout);
        if (CNetworkTask::GetPairingStatus() == PAIRING_STATUS_STARTING) {
            refuse(fd, pairing_brake, "GetPairingStatus==PAIRING_STATUS_STARTING\n");
            continue;
        }
        int supported;
        bool over;
        {
            std::lock_guard<std::mutex> g(g_mutex);
            supported = hdext::stream::supported_clients();
            apply_supported(slots, supported, seen_supported);
            over = CSender::m_numClient >= supported;
        }
        if (over) {
            refuse(fd, over_brake, "################# HB can not connect , over number ####################\n");
            continue;
        }
        char host[NI_MAXHOST] = {}, serv[NI_MAXSERV] = {};
        getnameinfo(reinterpret_cast<sockaddr*>(&peer), sizeof peer, host, sizeof host, serv, sizeof serv,
                    NI_NUMERICHOST | NI_NUMERICSERV);
        if (new_brake.pass()) DUMP(3, "new HB connection: %s :  %s\n", host, serv);
        if (!hdext::stream::in_network(host)) {
            refuse(fd, outside_brake, "hb connect ip:  Does not belong to the network segment \n");
            continue;
        }
        bool exists;
        {
            std::lock_guard<std::mutex> g(g_mutex);
            exists = hdext::stream::address_registered(slots, peer.sin_addr.s_addr);
        }
        if (exists) {
            refuse(fd, exists_brake, kAddressExists);
            continue;
        }
        hdext::stream::await_first_message(fd, peer.sin_addr.s_addr, slots);
    }
}

namespace hdext::stream {

void judge_first_message(int fd, uint32_t addr, CSender* slots, const uint8_t* msg) {
    static LogBrake odd_brake, full_brake, exists_brake;
    const uint16_t type = hb::type(msg);
    if (type == hb::kTypeApp) {
        HB_CONN_ARG conn{fd, addr, slots};
        app_connection(&conn, msg);
        return;
    }
    if (type != hb::kTypeRx) {
        if (odd_brake.pass()) DUMP(3, "msg_type error\n");
        t_socket_shutdown(fd, SHUT_RDWR);
        return;
    }
    HB_SLOT_ARG* client = nullptr;
    bool exists;
    {
        // Checked again here: connections from one address may have waited side by side.
        std::lock_guard<std::mutex> g(g_mutex);
        exists = address_registered(slots, addr);
        const int i = exists ? -1 : t_set_csender_info(slots, fd, addr);
        if (i >= 0) client = new HB_SLOT_ARG{&slots[i], slots[i].m_gen, fd, addr};
    }
    if (!client) {
        if (exists) {
            refuse(fd, exists_brake, kAddressExists);
            return;
        }
        if (full_brake.pass()) DUMP(3, "rx client number error\n");
        t_socket_shutdown(fd, SHUT_RDWR);
        return;
    }
    std::memcpy(client->first.data(), msg, hb::kLen);
    if (start_client_thread(send_rx_info, client, "send_rx_info")) client_thread_started();
}

bool start_client_thread(void* (*fn)(void*), HB_SLOT_ARG* client, const char* what) {
    return start_thread_or(fn, client, what, [client] {
        {
            std::lock_guard<std::mutex> g(g_mutex);
            if (client->slot->m_gen == client->gen) slot_release(*client->slot);
        }
        t_socket_shutdown(client->fd, SHUT_RDWR);
        delete client;
    });
}

void answer_receiver(uint8_t* msg, RxClientState& st) {
    // A channel stored by another road (menu, calibration, another receiver) is what every
    // receiver must be told from now on.
    const int stored = CParamConfig::Instance()->GetWifiChn();
    if (stored != st.settings_channel) {
        st.settings_channel = stored;
        st.channel = stored;
    }
    int asked = msg[hb::kChanged] ? msg[hb::kChannel] : 0;
    if (msg[hb::kChanged] && asked != st.channel && !channel_supported(asked)) {
        // Only once per channel asked for: a receiver repeats its request every second.
        if (asked != st.refused) std::printf("refused channel %d from %s\n", asked, address_text(st.addr).c_str());
        st.refused = asked;
        asked = 0;
    }
    // A held request of any receiver is taken by whichever client thread comes first after
    // the pause.
    static auto* gate = new ChannelGate(config().channel_pause); // used by detached threads until exit
    const ChannelGate::Verdict v = gate->offer(asked, st.channel, ChannelGate::Clock::now());
    if (v.held)
        std::printf("channel %d from %s held back: one channel change per %lld s\n", asked,
                    address_text(st.addr).c_str(),
                    static_cast<long long>(std::chrono::duration_cast<std::chrono::seconds>(config().channel_pause).count()));
    if (v.take) {
        std::printf("recv channel: %d, old channel: %d\n", v.take, st.channel);
        st.channel = v.take;
        app_status[31].store(static_cast<uint8_t>(v.take), std::memory_order_relaxed);
        const int32_t data = v.take;
        CParamConfig::ParamNotify(kParamChannelSource, LOCAL_MSG_CHANGE_WIFI_CHANNEL, &data, sizeof data);
    }
    {
        std::lock_guard<std::mutex> g(g_mutex);
        for (THD_INFO& e : g_thdInfo) {
            if (!e.used || e.addr != st.addr) continue;
            e.signal = msg[hb::kSignal];
            msg[hb::kClient] = e.number;
            break;
        }
    }
    fill_input_fields(msg);
    msg[hb::kChannel] = static_cast<uint8_t>(st.channel);
    std::memset(msg + hb::kVersion, 0, hb::kVersionLen);
    std::memcpy(msg + hb::kVersion, g_SystemVersion, sizeof g_SystemVersion);
}

} // namespace hdext::stream

void* send_rx_info(void* arg) {
    const HB_SLOT_ARG me = *static_cast<HB_SLOT_ARG*>(arg);
    delete static_cast<HB_SLOT_ARG*>(arg);
    pthread_setname_np(pthread_self(), "send_rx_info");
    DUMP(3, "###### ###### thread PID=%lX.\n", hdext::stream::thread_id());
    const int channel = CParamConfig::Instance()->GetWifiChn();
    hdext::stream::RxClientState st{me.addr, channel, channel, 0};
    const int supported = hdext::stream::client_thread_begin(me.addr);
    uint8_t msg[hb::kLen];
    std::memcpy(msg, me.first.data(), hb::kLen);
    for (bool first = true;; first = false) {
        {
            std::lock_guard<std::mutex> g(g_mutex);
            if (me.slot->m_gen != me.gen || !me.slot->m_hbConnected) break;
        }
        if (!first && Recv_HB_Data(me.fd, msg, hb::kLen) != hb::kLen) break;
        bool changed_setting = false;
        {
            std::lock_guard<std::mutex> g(g_mutex);
            const int now = hdext::stream::supported_clients();
            if (now != supported) {
                DUMP(3, "fd = %d, info.sup_clie = %d, sys_max_client_sync = %d\n", me.fd, now, supported);
                changed_setting = true;
            }
        }
        if (changed_setting) break;
        hdext::stream::answer_receiver(msg, st);
        if (hdext::stream::send_all(me.fd, msg, hb::kLen) != hb::kLen) {
            std::printf("222222 HB send failed. fd: %d\n", me.fd);
            break;
        }
        hdext::stream::sleep_for(config().hb_period);
    }
    const int before = hdext::stream::client_thread_end(me.slot, me.gen, me.fd, me.addr);
    DUMP(3, "222222 NO:%d, hb protocol exit\n", before);
    return nullptr;
}
