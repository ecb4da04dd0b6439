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
#include "stream/heartbeat.h"
#include "stream/sender.h"
#include "stream/stream_config.h"
#include "stream/stream_net.h"

namespace {

using hdext::stream::config;

constexpr uint32_t kParamChannelSource = 4096;

// Applies a supported-clients change to the slots: below it free, from it up disabled.
void apply_supported(CSender* slots, int value, int& seen) {
    if (value == seen) return;
    for (int i = 0; i < kSenderSlots; ++i) slots[i].m_state = i < value ? SENDER_STATE_FREE : SENDER_STATE_DISABLED;
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

void* HB_ProcessTX(void* arg) {
    auto* slots = static_cast<CSender*>(arg);
    pthread_setname_np(pthread_self(), "HB_ProcessTX");
    std::printf("###### ###### HB_ProcessTX thread PID=%lX.\n", hdext::stream::thread_id());
    const char* step = "";
    const int lfd = hdext::stream::listen_any(config().hb_port, &step);
    if (lfd < 0) {
        if (!std::strcmp(step, "socket")) DUMP(3, "socket Faild");
        else if (!std::strcmp(step, "reuseaddr")) DUMP(3, "setsockopt reuseaddr faild ");
        else if (!std::strcmp(step, "linger")) DUMP(3, "setsockopt m_linger faild ");
        else DUMP(3, "bind %d Faild ", config().hb_port);
        return nullptr;
    }
    int seen_supported = 0;
    for (;;) {
        sockaddr_in peer{};
        socklen_t plen = sizeof peer;
        const int fd = accept4(lfd, reinterpret_cast<sockaddr*>(&peer), &plen, SOCK_CLOEXEC);
        if (fd < 0) {
            DUMP(3, "HB accept error: %s\n", strerror(errno));
            continue;
        }
        if (hdext::stream::set_time_out(fd, SO_RCVTIMEO, config().hb_timeout) < 0) {
            std::printf("setsockopt rcvtimeout faild\n");
            close(fd);
            continue;
        }
        // A peer that stops reading must not hold its client thread beyond the time-out.
        hdext::stream::set_time_out(fd, SO_SNDTIMEO, config().hb_timeout);
        if (CNetworkTask::GetPairingStatus() == PAIRING_STATUS_STARTING) {
            std::printf("GetPairingStatus==PAIRING_STATUS_STARTING\n");
            t_socket_shutdown(fd, SHUT_RDWR);
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
            std::printf("################# HB can not connect , over number ####################\n");
            t_socket_shutdown(fd, SHUT_RDWR);
            continue;
        }
        char host[NI_MAXHOST] = {}, serv[NI_MAXSERV] = {};
        getnameinfo(reinterpret_cast<sockaddr*>(&peer), plen, host, sizeof host, serv, sizeof serv,
                    NI_NUMERICHOST | NI_NUMERICSERV);
        DUMP(3, "new HB connection: %s :  %s\n", host, serv);
        if (!hdext::stream::in_network(host)) {
            std::printf("hb connect ip:  Does not belong to the network segment \n");
            t_socket_shutdown(fd, SHUT_RDWR);
            continue;
        }
        bool exists = false;
        {
            std::lock_guard<std::mutex> g(g_mutex);
            for (int i = 0; i < supported; ++i)
                if (slots[i].m_addr == peer.sin_addr.s_addr) exists = true;
        }
        if (exists) {
            std::printf("\n !!! ip address already exist, exit\n");
            t_socket_shutdown(fd, SHUT_RDWR);
            continue;
        }
        hdext::stream::start_thread(judge_device_info, new HB_CONN_ARG{fd, peer.sin_addr.s_addr, slots});
    }
}

void* judge_device_info(void* arg) {
    auto* conn = static_cast<HB_CONN_ARG*>(arg);
    pthread_setname_np(pthread_self(), "judge_device");
    std::printf("###### ###### start judge_device_info thread PID=%lX.\n", hdext::stream::thread_id());
    uint8_t msg[hb::kLen];
    if (Recv_HB_Data(conn->fd, msg, hb::kLen) != hb::kLen) {
        t_socket_shutdown(conn->fd, SHUT_RDWR);
        delete conn;
        return nullptr;
    }
    const uint16_t type = hb::type(msg);
    if (type == hb::kTypeRx) {
        HB_SLOT_ARG* client = nullptr;
        {
            std::lock_guard<std::mutex> g(g_mutex);
            const int i = t_set_csender_info(conn->slots, conn->fd, conn->addr);
            if (i >= 0) client = new HB_SLOT_ARG{&conn->slots[i], conn->slots[i].m_gen, conn->fd, conn->addr};
        }
        if (client) {
            hdext::stream::start_thread(send_rx_info, client);
            hdext::stream::client_thread_started();
        } else {
            DUMP(3, "rx client number error\n");
            t_socket_shutdown(conn->fd, SHUT_RDWR);
        }
    } else if (type == hb::kTypeApp) {
        app_connection(conn, msg);
    } else {
        DUMP(3, "msg_type error\n");
        t_socket_shutdown(conn->fd, SHUT_RDWR);
    }
    delete conn;
    return nullptr;
}

void* send_rx_info(void* arg) {
    const HB_SLOT_ARG me = *static_cast<HB_SLOT_ARG*>(arg);
    delete static_cast<HB_SLOT_ARG*>(arg);
    pthread_setname_np(pthread_self(), "send_rx_info");
    DUMP(3, "###### ###### thread PID=%lX.\n", hdext::stream::thread_id());
    CParamConfig* param = CParamConfig::Instance();
    int settings_channel = param->GetWifiChn();
    int channel = settings_channel;
    const int supported = hdext::stream::client_thread_begin(me.addr);
    uint8_t msg[hb::kLen];
    for (;;) {
        {
            std::lock_guard<std::mutex> g(g_mutex);
            if (me.slot->m_gen != me.gen || !me.slot->m_hbConnected) break;
        }
        if (Recv_HB_Data(me.fd, msg, hb::kLen) != hb::kLen) break;
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
        // A channel stored by another road (menu, calibration, another receiver) is what every
        // receiver must be told from now on.
        const int stored = param->GetWifiChn();
        if (stored != settings_channel) {
            settings_channel = stored;
            channel = stored;
        }
        if (msg[hb::kChanged] && msg[hb::kChannel] != channel) {
            std::printf("recv channel: %d, old channel: %d\n", msg[hb::kChannel], channel);
            channel = msg[hb::kChannel];
            app_status[31].store(static_cast<uint8_t>(channel), std::memory_order_relaxed);
            const int32_t data = channel;
            CParamConfig::ParamNotify(kParamChannelSource, LOCAL_MSG_CHANGE_WIFI_CHANNEL, &data, sizeof data);
        }
        {
            std::lock_guard<std::mutex> g(g_mutex);
            for (THD_INFO& e : g_thdInfo) {
                if (!e.used || e.addr != me.addr) continue;
                e.signal = msg[hb::kSignal];
                msg[hb::kClient] = e.number;
                break;
            }
        }
        hdext::stream::fill_input_fields(msg);
        msg[hb::kChannel] = static_cast<uint8_t>(channel);
        std::memset(msg + hb::kVersion, 0, hb::kVersionLen);
        std::memcpy(msg + hb::kVersion, g_SystemVersion, sizeof g_SystemVersion);
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
