// Stand-in tasks that record every message sent to their module id, for tests that check
// what a subsystem sends to the parameter store, the network task, the decoder or the OSD.
// The core runtime is set up once per process; recorder tasks live until the process ends.
#pragma once
#include <chrono>
#include <cstring>
#include <thread>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "core/event.h"
#include "core/frame.h"
#include "core/mempool.h"
#include "core/task.h"

namespace hdext::test {

struct RecordedMsg {
    uint32_t src, msg_id, len;
    std::string data;
    int32_t int_payload() const {
        int32_t v = 0;
        data.copy(reinterpret_cast<char*>(&v), data.size() < 4 ? data.size() : 4);
        return v;
    }
};

inline void core_runtime_once() {
    static bool done = [] {
        mempool_init();
        init_msg_mgr(1024);
        init_event_handler_mgr(512);
        init_thr_mgr(40);
        init_timer_task(nullptr);
        init_frame_buff_mgr(8, 1024);
        init_audio_frame_buff_mgr(8, 1024);
        return true;
    }();
    (void)done;
}

class Recorders {
public:
    static constexpr uint32_t kMarker = 0xD1A1D1A1;

    static Recorders& get() {
        static Recorders* r = new Recorders;  // tasks outlive main
        return *r;
    }

    // Registers a recorder for mid unless one exists.
    void start(uint32_t mid) {
        core_runtime_once();
        {
            std::lock_guard<std::mutex> g(lock_);
            if (started_[mid]) return;
            started_[mid] = true;
        }
        register_task(mid, nullptr, init, 0);
        drain(mid);
    }

    // Waits until every message sent to mid before the call has been recorded.
    void drain(uint32_t mid) {
        uint64_t seq;
        {
            std::lock_guard<std::mutex> g(lock_);
            seq = ++posted_[mid];
        }
        MSG_INFO m{0xD1A1, mid, kMarker, sizeof seq, &seq};
        for (int i = 0; i < 200 && !send_msg(&m); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        std::unique_lock<std::mutex> lk(lock_);
        cv_.wait_for(lk, std::chrono::seconds(10), [&] { return done_[mid] >= seq; });
    }

    std::vector<RecordedMsg> messages(uint32_t mid) {
        drain(mid);
        std::lock_guard<std::mutex> g(lock_);
        return msgs_[mid];
    }
    std::vector<RecordedMsg> messages(uint32_t mid, uint32_t id) {
        std::vector<RecordedMsg> out;
        for (auto& m : messages(mid))
            if (m.msg_id == id) out.push_back(m);
        return out;
    }
    void clear() {
        std::lock_guard<std::mutex> g(lock_);
        msgs_.clear();
    }

private:
    static void init(THR_TASK* t) { register_msg_handler(t, on_msg); }
    static void on_msg(THR_TASK*, MQ_LIST* m) {
        auto& r = get();
        std::lock_guard<std::mutex> g(r.lock_);
        if (m->msg_id == kMarker && m->len == sizeof(uint64_t)) {
            uint64_t seq;
            std::memcpy(&seq, m->data, sizeof seq);
            if (seq > r.done_[m->dst]) r.done_[m->dst] = seq;
            r.cv_.notify_all();
            return;
        }
        std::string data;
        if (m->data && m->len) data.assign(static_cast<const char*>(m->data), m->len);
        r.msgs_[m->dst].push_back({m->src, m->msg_id, m->len, data});
    }

    std::mutex lock_;
    std::condition_variable cv_;
    std::map<uint32_t, bool> started_;
    std::map<uint32_t, uint64_t> posted_, done_;
    std::map<uint32_t, std::vector<RecordedMsg>> msgs_;
};

} // namespace hdext::test
