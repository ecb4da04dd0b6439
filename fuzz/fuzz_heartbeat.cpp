// libFuzzer target for the heartbeat and app messages, both ways: what a TX takes from a
// receiver (each message, and the first one that decides receiver, app or neither, with the
// app's identifier looked up), the PIN of an app's pairing reply, and what an RX takes from
// its TX. The input is a sequence of records: one byte saying who reads, then up to 108 bytes.
// Thread starts are refused, so the first-message step runs its give-back paths; the TX must
// never tell a receiver a channel outside the supported set.
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "core/mempool.h"
#include "core/task.h"
#include "fuzz/fuzz_board.h"
#include "stream/heartbeat.h"
#include "stream/receiver.h"
#include "stream/sender.h"
#include "stream/stream_config.h"
#include "stream/stream_net.h"

namespace {

struct Unit {
    FuzzBoard board{EQUIPMENT_MODEL_TX};
    CSender slots[kSenderSlots];
    Unit() {
        std::filesystem::create_directories(board.root + "/etc");
        std::ofstream(board.root + "/etc/uuidList") << std::string(36, 'k') << "\n";
        mempool_init();
        init_msg_mgr(64);
        hdext::stream::StreamConfig c;
        c.pin_wait_first = c.pin_wait_max = c.pin_brake_first = c.pin_brake_max = std::chrono::milliseconds(0);
        hdext::stream::set_config(c);
        hdext::stream::StreamHooks h;
        h.thread_refused = [](const char*) { return true; };
        hdext::stream::set_hooks(h);
        pReceiver = new CReceiver(); // link count 0: a first link asks for no stream connection
        pReceiver->Init();
    }
};

Unit& unit() {
    static Unit u;
    return u;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Unit& u = unit();
    const int stored = CParamConfig::Instance()->GetWifiChn();
    hdext::stream::RxClientState st{0x0201a8c0, stored, stored, 0};
    int present_seen = -1;
    FirstLink.store(0);
    for (size_t at = 0; at < size;) {
        const uint8_t who = data[at++];
        uint8_t msg[hb::kLen] = {};
        const size_t n = std::min<size_t>(hb::kLen, size - at);
        std::memcpy(msg, data + at, n);
        at += n;
        switch (who % 4) {
        case 0: // TX: a receiver's message, answered in place
            hdext::stream::answer_receiver(msg, st);
            if (msg[hb::kChannel] != stored && !channel_supported(msg[hb::kChannel])) abort();
            if (msg[hb::kVersion + hb::kVersionLen - 1] != 0) abort();
            break;
        case 1: { // TX: a connection's first message
            int sv[2];
            if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv) != 0) break;
            hdext::stream::judge_first_message(sv[0], 0x0301a8c0u + (who >> 2), u.slots, msg);
            close(sv[1]);
            break;
        }
        case 2: { // TX: the PIN of an app's pairing reply
            std::chrono::steady_clock::time_point until;
            hdext::stream::judge_pin(who, msg + hb::kPin, "1234", who & 1, &until);
            break;
        }
        default: // RX: the TX's message
            hdext::stream::rx_take_heartbeat(msg, present_seen);
            break;
        }
    }
    // Every slot a first message took was given back with its failed thread start.
    for (const CSender& s : u.slots)
        if (s.m_state != SENDER_STATE_FREE || s.m_hbSock) abort();
    return 0;
}
