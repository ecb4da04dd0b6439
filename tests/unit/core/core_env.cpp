#include "core_env.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <thread>

#include "core/event.h"
#include "core/frame.h"

namespace {

std::mutex g_seen_lock;
std::map<uint32_t, std::vector<SeenMsg>> g_seen;
std::atomic<bool> g_blocked{false};
std::atomic<bool> g_release{false};
task_init_fn g_extra_init[0x10000];

void record_msg(THR_TASK* task, MQ_LIST* m) {
    if (m->msg_id == kMsgRun) {
        std::function<void(THR_TASK*)>* fn;
        std::memcpy(&fn, m->data, sizeof fn);
        (*fn)(task);
        return;
    }
    SeenMsg s{m->src, m->dst, m->msg_id, m->len,
              m->data ? std::string(static_cast<char*>(m->data), m->len) : std::string(),
              m->data != nullptr, task->passes};
    {
        std::lock_guard<std::mutex> lk(g_seen_lock);
        g_seen[task->mid].push_back(s);
    }
    if (m->msg_id == kMsgBlock) {
        g_blocked.store(true);
        while (!g_release.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        g_blocked.store(false);
    }
}

void recording_init(THR_TASK* task) {
    register_msg_handler(task, record_msg);
    if (task_init_fn extra = g_extra_init[task->mid & 0xFFFF]) extra(task);
}

}  // namespace

void core_env() {
    static std::once_flag once;
    std::call_once(once, [] {
        mempool_init();
        init_frame_buff_mgr(kEnvVideoFrames, kEnvVideoSize);
        init_audio_frame_buff_mgr(kEnvAudioFrames, kEnvAudioSize);
        init_msg_mgr(1024);
        init_event_handler_mgr(512);
        init_thr_mgr(40);
        init_timer_task(recording_init);
    });
}

std::string capture_stdout(const std::function<void()>& fn) {
    std::fflush(stdout);
    testing::internal::CaptureStdout();
    fn();
    std::fflush(stdout);
    return testing::internal::GetCapturedStdout();
}

std::string capture_stderr(const std::function<void()>& fn) {
    std::fflush(stderr);
    testing::internal::CaptureStderr();
    fn();
    std::fflush(stderr);
    return testing::internal::GetCapturedStderr();
}

bool wait_until(const std::function<bool()>& pred) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!pred()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

THR_TASK* start_recording_task(uint32_t mid, uint32_t options, task_init_fn extra_init) {
    core_env();
    g_extra_init[mid & 0xFFFF] = extra_init;
    EXPECT_EQ(register_task(mid, nullptr, recording_init, options), 1);
    THR_TASK* t = get_task_info(mid);
    EXPECT_NE(t, nullptr);
    // The loop is up once a message round-trips through it.
    run_on(t, [](THR_TASK*) {});
    return t;
}

std::vector<SeenMsg> seen_by(uint32_t mid) {
    std::lock_guard<std::mutex> lk(g_seen_lock);
    return g_seen[mid];
}

void run_on(THR_TASK* task, const std::function<void(THR_TASK*)>& fn) {
    std::atomic<bool> done{false};
    std::function<void(THR_TASK*)> wrapped = [&](THR_TASK* t) {
        fn(t);
        done.store(true);
    };
    auto* p = &wrapped;
    MSG_INFO m{0x0, task->mid, kMsgRun, sizeof p, &p};
    ASSERT_EQ(send_msg(&m), 1);
    ASSERT_TRUE(wait_until([&] { return done.load(); })) << "task did not run the call";
}

void block_task(THR_TASK* task) {
    g_release.store(false);
    MSG_INFO m{0x0, task->mid, kMsgBlock, 0, nullptr};
    ASSERT_EQ(send_msg(&m), 1);
    ASSERT_TRUE(wait_until([] { return g_blocked.load(); }));
}

void release_blocked() { g_release.store(true); }
