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
#include <optional>
#include <string>
#include <cerrno>

#include "app/version.h"
#include "board/board.h"
#include "core/dump_print.h"
#include "periph/app_status.h"
#include "periph/input_state.h"
#include "settings/param_config.h"
#include "stream/heartbeat.h"
#include "stream/limits.h"
#include "stream/sender.h"
#include "stream/stream_config.h"
#include "stream/stream_net.h"

namespace {

using Clock = std::chrono::steady_clock;
using hdext::stream::config;
using hdext::stream::kPairingMax;
using hdext::stream::kPairingPerAddress;
using hdext::stream::kPinBrakeAfter;
using hdext::stream::kPairingMisses;

constexpr const char* kUuidList = "/etc/uuidList";
constexpr int kUuidRecord = hb::kUuidLen + 1; // the identifier and a line feed
// While the kept place's PIN waits for the brake, the others look again after this.
constexpr auto kKeptFirst = std::chrono::milliseconds(50);

// Wrong PINs slow their sender down: each address waits before its next PIN is looked at,
// 1 s after the first miss, doubling up to 8 s; a right PIN clears the wait. Across all
// addresses a brake does the same for the whole TX once kPinBrakeAfter wrong PINs came in a
// row, so many addresses cannot try codes faster than one address.
struct PinGuard {
    Clock::time_point next{};
    std::chrono::milliseconds wait{0};
    Clock::time_point missed{}; // the last wrong PIN (addresses only)
};
// Pairing places: kPairingMax - 1 for anyone, and one kept for an address without a wrong PIN
// for a while, whose PIN goes first when the brake allows and which ends at its first wrong
// one. Apps that answer wrong PINs without end then cannot keep a fresh address out for long.
struct PinState {
    std::mutex lock;
    std::map<uint32_t, PinGuard> by_address;
    PinGuard brake;
    int misses = 0; // wrong PINs in a row, any address
    int general = 0;          // pairing threads in the places for anyone
    bool kept = false;        // the kept place is taken
    bool kept_waiting = false; // its PIN waits for the brake
    std::map<uint32_t, int> pairing_of;
};
PinState& pins() {
    static auto* p = new PinState; // used by detached threads until exit
    return *p;
}

void longer(PinGuard& p, std::chrono::milliseconds first, std::chrono::milliseconds max, Clock::time_point now) {
    p.wait = p.wait.count() == 0 ? first : std::min(p.wait * 2, max);
    p.next = now + p.wait;
}

} // namespace

std::optional<bool> hdext::stream::judge_pin(uint32_t addr, const uint8_t* pin, const char* right_pin, bool kept,
                                            Clock::time_point* until) {
    PinState& ps = pins();
    std::lock_guard<std::mutex> g(ps.lock);
    const Clock::time_point now = Clock::now();
    // Addresses whose wait ran out and whose last miss is forgotten need no entry; the map
    // stays small.
    if (ps.by_address.size() > 256)
        std::erase_if(ps.by_address, [&](const auto& e) {
            return e.second.next + config().pin_wait_max < now && e.second.missed + config().pin_fresh_after < now;
        });
    PinGuard& p = ps.by_address[addr];
    *until = std::max(p.next, ps.brake.next);
    if (kept) ps.kept_waiting = now < *until;
    else if (ps.kept_waiting && now >= *until) *until = now + kKeptFirst; // its turn first
    if (now < *until) return std::nullopt;
    if (std::memcmp(pin, right_pin, hb::kPinLen) == 0) {
        if (ps.brake.wait.count()) std::printf("PIN brake released: a right PIN\n");
        p = PinGuard{};
        ps.brake = PinGuard{};
        ps.misses = 0;
        return true;
    }
    longer(p, config().pin_wait_first, config().pin_wait_max, now);
    p.missed = now;
    if (++ps.misses >= kPinBrakeAfter) {
        const auto before = ps.brake.wait;
        longer(ps.brake, config().pin_brake_first, config().pin_brake_max, now);
        if (ps.brake.wait != before)
            std::printf("PIN brake: %d wrong PINs in a row, one PIN judged every %lld ms\n", ps.misses,
                        static_cast<long long>(ps.brake.wait.count()));
    }
    return false;
}

namespace {

enum class Place { none, general, kept };

// A pairing thread's argument (owned by the thread).
struct PairingArg {
    HB_CONN_ARG conn;
    Place place;
};

// Counts a pairing thread in, within its caps: the place it takes.
Place pairing_enter(uint32_t addr) {
    PinState& ps = pins();
    std::lock_guard<std::mutex> g(ps.lock);
    if (ps.pairing_of[addr] >= kPairingPerAddress) return Place::none;
    Place place = Place::general;
    if (ps.general >= kPairingMax - 1) {
        const auto p = ps.by_address.find(addr);
        const bool fresh = p == ps.by_address.end() || p->second.missed == Clock::time_point{} ||
                           Clock::now() - p->second.missed >= config().pin_fresh_after;
        if (ps.kept || !fresh) {
            if (ps.pairing_of[addr] == 0) ps.pairing_of.erase(addr);
            return Place::none;
        }
        place = Place::kept;
    }
    if (place == Place::kept) ps.kept = true;
    else ++ps.general;
    ++ps.pairing_of[addr];
    return place;
}

void pairing_leave(uint32_t addr, Place place) {
    PinState& ps = pins();
    std::lock_guard<std::mutex> g(ps.lock);
    if (place == Place::kept) ps.kept = ps.kept_waiting = false;
    else --ps.general;
    if (--ps.pairing_of[addr] == 0) ps.pairing_of.erase(addr);
}

// Registers the app in the first free slot and starts its status thread; closes the socket
// when none is free or the thread cannot start. True when the thread runs.
bool register_app(HB_CONN_ARG* conn, const char* refusal) {
    HB_SLOT_ARG* client = nullptr;
    {
        std::lock_guard<std::mutex> g(g_mutex);
        const int i = t_set_csender_info(conn->slots, conn->fd, conn->addr);
        if (i >= 0) client = new HB_SLOT_ARG{&conn->slots[i], conn->slots[i].m_gen, conn->fd, conn->addr};
    }
    if (!client) {
        DUMP(3, "%s", refusal);
        t_socket_shutdown(conn->fd, SHUT_RDWR);
        return false;
    }
    return hdext::stream::start_client_thread(send_app_info, client, "send_app_info");
}

// The paired-app list has a lock of its own: reading it on the dispatcher thread must not hold
// up the client threads, which take g_mutex every second.
std::mutex& uuid_list_lock() {
    static auto* m = new std::mutex; // used by detached threads until exit
    return *m;
}

bool known_app(const uint8_t* first, bool* found) {
    std::lock_guard<std::mutex> g(uuid_list_lock());
    const std::string file = hdext::board::path(kUuidList);
    const int fd = open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        DUMP(3, "OPEN FILE %s FAIL", file.c_str());
        return false;
    }
    char rec[kUuidRecord];
    *found = false;
    while (!*found && read(fd, rec, kUuidRecord) == kUuidRecord)
        *found = std::memcmp(rec, first + hb::kUuid, hb::kUuidLen) == 0;
    close(fd);
    return true;
}

} // namespace

void app_connection(HB_CONN_ARG* conn, const uint8_t* first) {
    static hdext::stream::LogBrake busy;
    bool found;
    if (!known_app(first, &found)) {
        t_socket_shutdown(conn->fd, SHUT_RDWR);
        return;
    }
    Place place;
    if (found) {
        if (!register_app(conn, "app client number error\n")) return;
    } else if ((place = pairing_enter(conn->addr)) == Place::none) {
        hdext::stream::refuse(conn->fd, busy, "app pairing refused: as many pairings run as may\n");
        return;
    } else {
        auto* arg = new PairingArg{*conn, place};
        if (!hdext::stream::start_thread_or(app_pair_info, arg, "app_pair_info", [arg] {
                t_socket_shutdown(arg->conn.fd, SHUT_RDWR);
                pairing_leave(arg->conn.addr, arg->place);
                delete arg;
            }))
            return;
    }
    hdext::stream::client_thread_started();
}

void* app_pair_info(void* arg) {
    static hdext::stream::LogBrake ended;
    PairingArg* pa = static_cast<PairingArg*>(arg);
    HB_CONN_ARG* conn = &pa->conn;
    const bool kept = pa->place == Place::kept;
    pthread_setname_np(pthread_self(), "app_pair_info");
    std::printf("###### ###### start app_pair_info thread PID=%lX.\n", hdext::stream::thread_id());
    DUMP(3, "app pair_deal sockfd: %d\n", conn->fd);
    // However the app answers, its place is given back within this time.
    const Clock::time_point end = Clock::now() + config().app_pairing_limit;
    uint8_t req[hb::kLen];
    uint8_t reply[hb::kLen];
    bool right = false;
    const char* why = nullptr;
    for (int misses = 0; !right && !why;) {
        std::memset(req, 0, sizeof req);
        hb::put_type(req, hb::kTypePairRequest);
        if (hdext::stream::send_all(conn->fd, req, hb::kLen) != hb::kLen) {
            DUMP(3, "HB send failed: %d\n", conn->fd);
            break;
        }
        // The whole reply within the receive time-out, however it is cut up.
        if (hdext::stream::recv_until(conn->fd, reply, hb::kLen, std::min(Clock::now() + config().hb_timeout, end)) !=
            hb::kLen) {
            if (Clock::now() >= end) why = "its time is up";
            break;
        }
        ABS_SYS_INFO_CONFIG sys{};
        {
            std::lock_guard<std::mutex> g(g_mutex);
            CParamConfig::Instance()->GetSystemInfo(&sys);
        }
        std::optional<bool> verdict;
        Clock::time_point until;
        // An app that gives up during its wait ends the thread at once.
        while (!(verdict = hdext::stream::judge_pin(conn->addr, reply + hb::kPin, sys.pincode, kept, &until)) &&
               until < end && hdext::stream::wait_watching(conn->fd, until)) {
        }
        if (!verdict) {
            if (until >= end) why = "its time is up";
            break;
        }
        right = *verdict;
        if (!right && (kept || ++misses == kPairingMisses)) why = kept ? "a wrong PIN in the kept place" : "3 wrong PINs";
    }
    pairing_leave(conn->addr, pa->place);
    if (why && ended.pass())
        std::printf("app pairing of %s ended: %s\n", hdext::stream::address_text(conn->addr).c_str(), why);
    if (right) {
        char record[kUuidRecord] = {};
        std::strncpy(record, reinterpret_cast<const char*>(reply + hb::kUuid), hb::kUuidLen);
        record[hb::kUuidLen] = '\n';
        {
            std::lock_guard<std::mutex> g(uuid_list_lock());
            const std::string file = hdext::board::path(kUuidList);
            if (FILE* f = std::fopen(file.c_str(), "a")) {
                std::fwrite(record, 1, kUuidRecord, f);
                std::fclose(f);
            } else {
                std::printf("open %s failed\n", file.c_str());
            }
        }
        register_app(conn, "app pair client number error\n");
    } else {
        t_socket_shutdown(conn->fd, SHUT_RDWR);
    }
    delete pa;
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
        char count[hb::kCountLen + 16] = {}; // room for any int: optimised builds check it
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
