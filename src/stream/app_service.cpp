// Companion app service on the TX: pairing by PIN, the paired-app list, the status thread.
#include <fcntl.h>
#include <pthread.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <thread>
#include <cerrno>

#include "app/version.h"
#include "board/board.h"
#include "core/dump_print.h"
#include "periph/app_status.h"
#include "periph/input_state.h"
#include "settings/param_config.h"
#include "stream/heartbeat.h"
#include "stream/sender.h"
#include "stream/stream_config.h"
#include "stream/stream_net.h"

namespace {

using Clock = std::chrono::steady_clock;
using hdext::stream::config;

constexpr const char* kUuidList = "/etc/uuidList";
constexpr int kUuidRecord = 37;

// Wrong PINs slow their sender down: each address waits before its next PIN is looked at,
// 1 s after the first miss, doubling up to 8 s; a right PIN clears the wait.
struct PinGuard {
    Clock::time_point next{};
    std::chrono::milliseconds wait{0};
};
std::mutex g_pinLock;
std::map<uint32_t, PinGuard>& pin_guards() {
    static auto* m = new std::map<uint32_t, PinGuard>; // used by detached threads until exit
    return *m;
}

// When this address's next PIN may be looked at; reserves that turn, so parallel connections
// from one address are spaced too.
Clock::time_point pin_turn(uint32_t addr) {
    std::lock_guard<std::mutex> g(g_pinLock);
    PinGuard& p = pin_guards()[addr];
    const Clock::time_point t = std::max(Clock::now(), p.next);
    p.next = t + p.wait;
    return t;
}

void pin_result(uint32_t addr, bool right) {
    std::lock_guard<std::mutex> g(g_pinLock);
    PinGuard& p = pin_guards()[addr];
    if (right) {
        p = PinGuard{};
        return;
    }
    p.wait = p.wait.count() == 0 ? config().pin_wait_first : std::min(p.wait * 2, config().pin_wait_max);
    p.next = std::max(p.next, Clock::now() + p.wait);
}

// Registers the app in the first free slot and starts its status thread; closes the socket
// when none is free. Under g_mutex.
bool register_app(HB_CONN_ARG* conn, const char* refusal) {
    const int i = t_set_csender_info(conn->slots, conn->fd, conn->addr);
    if (i < 0) {
        DUMP(3, "%s", refusal);
        return false;
    }
    hdext::stream::start_thread(send_app_info, new HB_SLOT_ARG{&conn->slots[i], conn->slots[i].m_gen, conn->fd, conn->addr});
    return true;
}

} // namespace

void app_connection(HB_CONN_ARG* conn, const uint8_t* first) {
    bool found = false;
    {
        std::lock_guard<std::mutex> g(g_mutex);
        const std::string file = hdext::board::path(kUuidList);
        const int fd = open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        if (fd < 0) {
            DUMP(3, "OPEN FILE %s FAIL", file.c_str());
            t_socket_shutdown(conn->fd, SHUT_RDWR);
            return;
        }
        char rec[kUuidRecord];
        while (!found && read(fd, rec, kUuidRecord) == kUuidRecord)
            found = std::memcmp(rec, first + hb::kUuid, hb::kUuidLen) == 0;
        close(fd);
        if (found) {
            if (!register_app(conn, "app client number error\n")) {
                t_socket_shutdown(conn->fd, SHUT_RDWR);
                return;
            }
        }
    }
    if (!found) hdext::stream::start_thread(app_pair_info, new HB_CONN_ARG(*conn));
    hdext::stream::client_thread_started();
}

void* app_pair_info(void* arg) {
    HB_CONN_ARG* conn = static_cast<HB_CONN_ARG*>(arg);
    pthread_setname_np(pthread_self(), "app_pair_info");
    std::printf("###### ###### start app_pair_info thread PID=%lX.\n", hdext::stream::thread_id());
    DUMP(3, "app pair_deal sockfd: %d\n", conn->fd);
    uint8_t req[hb::kLen];
    uint8_t reply[hb::kLen];
    for (;;) {
        std::memset(req, 0, sizeof req);
        hb::put_type(req, hb::kTypePairRequest);
        if (hdext::stream::send_all(conn->fd, req, hb::kLen) != hb::kLen) {
            DUMP(3, "HB send failed: %d\n", conn->fd);
            t_socket_shutdown(conn->fd, SHUT_RDWR);
            delete conn;
            return nullptr;
        }
        if (Recv_HB_Data(conn->fd, reply, hb::kLen) != hb::kLen) {
            t_socket_shutdown(conn->fd, SHUT_RDWR);
            delete conn;
            return nullptr;
        }
        std::this_thread::sleep_until(pin_turn(conn->addr));
        ABS_SYS_INFO_CONFIG sys{};
        {
            std::lock_guard<std::mutex> g(g_mutex);
            CParamConfig::Instance()->GetSystemInfo(&sys);
        }
        const bool right = std::memcmp(reply + hb::kPin, sys.pincode, hb::kPinLen) == 0;
        pin_result(conn->addr, right);
        if (right) break;
    }
    char record[kUuidRecord] = {};
    std::strncpy(record, reinterpret_cast<const char*>(reply + hb::kUuid), hb::kUuidLen);
    record[hb::kUuidLen] = '\n';
    bool registered;
    {
        std::lock_guard<std::mutex> g(g_mutex);
        const std::string file = hdext::board::path(kUuidList);
        if (FILE* f = std::fopen(file.c_str(), "a")) {
            std::fwrite(record, 1, kUuidRecord, f);
            std::fclose(f);
        } else {
            std::printf("open %s failed\n", file.c_str());
        }
        registered = register_app(conn, "app pair client number error\n");
    }
    if (!registered) t_socket_shutdown(conn->fd, SHUT_RDWR);
    delete conn;
    return nullptr;
}

void* send_app_info(void* arg) {
    const HB_SLOT_ARG me = *static_cast<HB_SLOT_ARG*>(arg);
    delete static_cast<HB_SLOT_ARG*>(arg);
    pthread_setname_np(pthread_self(), "send_app_info");
    std::printf("###### ###### start send_app_info thread PID=%lX.\n", hdext::stream::thread_id());
    if (hdext::stream::set_time_out(me.fd, SO_RCVTIMEO, config().app_timeout) < 0)
        std::printf("setsockopt sndtimeout faild ");
    const int supported = hdext::stream::client_thread_begin(me.addr);
    uint8_t msg[hb::kLen];
    for (;;) {
        std::memset(msg, 0, sizeof msg);
        int channel, in_use = 0;
        {
            std::lock_guard<std::mutex> g(g_mutex);
            channel = CParamConfig::Instance()->GetWifiChn();
            if (hdext::stream::supported_clients() != supported || me.slot->m_gen != me.gen) break;
            for (THD_INFO& e : g_thdInfo) {
                if (!e.used) continue;
                ++in_use;
                if (e.addr != me.addr) continue;
                e.signal = 4;
                msg[hb::kClient] = e.number;
            }
        }
        const bool sdi = vi_mode.load(std::memory_order_relaxed) == 1;
        uint32_t timing = (sdi ? VO_SYNC_3471_ATT : VO_SYNC_6911_ATT).load(std::memory_order_relaxed);
        uint32_t w = (sdi ? MaxW_3471_ATT : MaxW_6911_ATT).load(std::memory_order_relaxed);
        uint32_t h = (sdi ? MaxH_3471_ATT : MaxH_6911_ATT).load(std::memory_order_relaxed);
        uint32_t rate = (sdi ? FrameRate_3471 : FrameRate_6911).load(std::memory_order_relaxed);
        if (timing == static_cast<uint32_t>(hb::kNoTiming)) {
            w = 1920;
            h = 1080;
            rate = 60;
            timing = 23;
        }
        hb::put32(msg, hb::kWidth, w);
        hb::put32(msg, hb::kHeight, h);
        hb::put32(msg, hb::kRate, rate);
        hb::put32(msg, hb::kTiming, timing);
        hb::put32(msg, hb::kAudio, 44100);
        hb::put_type(msg, hb::kTypeAppStatus);
        msg[hb::kPresent] = 1;
        msg[hb::kChannel] = static_cast<uint8_t>(channel);
        msg[24] = 0x00;
        msg[25] = 0x04;
        char count[hb::kCountLen + 1] = {};
        std::snprintf(count, sizeof count, "%d/%d", in_use, 3);
        std::memcpy(msg + hb::kCount, count, hb::kCountLen);
        std::memcpy(msg + hb::kVersion, g_SystemVersion, sizeof g_SystemVersion);
        if (hdext::stream::send_all(me.fd, msg, hb::kLen) != hb::kLen) {
            std::printf("33333333333 send_app_info error, fd = %d, errors: %s \n", me.fd, strerror(errno));
            break;
        }
        hdext::stream::sleep_for(config().hb_period);
    }
    hdext::stream::client_thread_end(me.slot, me.gen, me.fd, me.addr);
    std::printf("33333333333 %s thread exit\n", "send_app_info");
    return nullptr;
}
