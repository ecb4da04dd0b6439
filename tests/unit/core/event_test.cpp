// Event handlers: dispatch order, descriptor sets following the flags, deletion and sweep,
// timers against the tick.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "core/event.h"
#include "core/mempool.h"
#include "core_env.h"

namespace {

std::mutex g_lock;
std::vector<std::pair<uint32_t, std::string>> g_calls;  // (pass, callback)
std::atomic<int> g_destroyed{0};

void note(THR_TASK* t, const char* what) {
    std::lock_guard<std::mutex> lk(g_lock);
    g_calls.emplace_back(t->passes, what);
}

std::vector<std::pair<uint32_t, std::string>> calls() {
    std::lock_guard<std::mutex> lk(g_lock);
    return g_calls;
}

bool called(const char* what) {
    for (auto& c : calls())
        if (c.second == what) return true;
    return false;
}

// Callbacks, in the order of their names.
void on_timer(THR_TASK* t, EVENT_HANDLER*) { note(t, "timer"); }
void on_accept(int, THR_TASK* t, uint32_t) { note(t, "accept"); }
void on_read(int, THR_TASK* t, EVENT_HANDLER*) { note(t, "read"); }
void on_connect(int, THR_TASK* t, EVENT_HANDLER*) { note(t, "connect"); }
void on_write(int, THR_TASK* t, EVENT_HANDLER*) { note(t, "write"); }
void on_destroy(EVENT_HANDLER*, EVENT_HANDLER*) { g_destroyed.fetch_add(1); }

class Handlers : public ::testing::Test {
protected:
    void SetUp() override {
        {
            std::lock_guard<std::mutex> lk(g_lock);
            g_calls.clear();
        }
        g_destroyed.store(0);
        // s[0] is readable (a byte waits) and writable.
        ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, s), 0);
        ASSERT_EQ(write(s[1], "x", 1), 1);
    }
    void TearDown() override {
        for (int fd : {s[0], s[1]}) close(fd);
    }
    // Registers on the task's thread; returns the id.
    uint32_t reg(THR_TASK* t, EVENT_REG r) {
        uint32_t id = 0;
        run_on(t, [&](THR_TASK* tt) {
            EXPECT_EQ(register_event_handle(tt, &r), 1);
            id = r.id;
        });
        return id;
    }
    void drop(THR_TASK* t, uint32_t id) {
        run_on(t, [id](THR_TASK* tt) { unregister_event_handle(tt, id); });
    }
    int s[2];
};

// The calls of the first pass that reached `last_step`.
std::vector<std::string> first_pass_with(const std::string& step) {
    auto all = calls();
    auto it = std::find_if(all.begin(), all.end(), [&](auto& c) { return c.second == step; });
    std::vector<std::string> out;
    if (it == all.end()) return out;
    for (auto& c : all)
        if (c.first == it->first) out.push_back(c.second);
    return out;
}

TEST_F(Handlers, OnePassCallsTimerAcceptReadConnectWriteInOrder) {
    THR_TASK* t = start_recording_task(0x5001);
    EVENT_REG r{};
    r.fd = s[0];
    r.flags = EV_TIMER | EV_ACCEPT | EV_READ | EV_CONNECT | EV_WRITE;
    r.period = 0;
    r.timer_fn = on_timer;
    r.accept_fn = on_accept;
    r.read_fn = on_read;
    r.connect_fn = on_connect;
    r.write_fn = on_write;
    uint32_t id = reg(t, r);
    EXPECT_GE(id, 4096u);
    ASSERT_TRUE(wait_until([] { return called("write"); }));
    drop(t, id);
    EXPECT_EQ(first_pass_with("accept"),
              (std::vector<std::string>{"timer", "accept", "read", "connect", "write"}));
}

TEST_F(Handlers, FlagsMoveTheDescriptorBetweenSetsAndDeletionIsSweptOnce) {
    THR_TASK* t = start_recording_task(0x5004);
    EVENT_REG r{};
    r.fd = s[1];  // nothing to read here, so no callback fires
    r.flags = EV_READ | EV_CONNECT;
    r.destroy_fn = on_destroy;
    uint32_t id = reg(t, r);
    int fd = s[1];
    run_on(t, [&](THR_TASK* tt) {
        // A second registration of the descriptor only adds flags.
        EVENT_REG again{};
        again.fd = fd;
        again.flags = EV_WRITE;
        EXPECT_EQ(register_event_handle(tt, &again), 1);
        EXPECT_EQ(again.id, id);
        EVENT_HANDLER* h = get_event_handler(tt, id);
        ASSERT_NE(h, nullptr);
        EXPECT_EQ(h->flags, EV_READ | EV_CONNECT | EV_WRITE);

        EXPECT_EQ(modify_event_handle(tt, id, EV_ACCEPT), 1);
        EXPECT_TRUE(FD_ISSET(fd, &tt->ev.rset));
        EXPECT_FALSE(FD_ISSET(fd, &tt->ev.wset));
        EXPECT_EQ(remove_event_handler(tt, fd, EV_ACCEPT), 1);
        EXPECT_EQ(h->flags, EV_DELETED);
        EXPECT_FALSE(FD_ISSET(fd, &tt->ev.rset));
        EXPECT_EQ(add_event_handle(tt, fd, EV_READ), 0) << "refused on a deleted handler";
        EXPECT_EQ(g_destroyed.load(), 0);  // freed by the sweep, not here
    });
    ASSERT_TRUE(wait_until([] { return g_destroyed.load() == 1; }));
    run_on(t, [&](THR_TASK* tt) { EXPECT_EQ(get_event_handler_by_fd(tt, fd), nullptr); });
    EXPECT_EQ(g_destroyed.load(), 1);
}

TEST_F(Handlers, DefaultDestroyReturnsTheUserDataToTheGeneralPools) {
    THR_TASK* t = start_recording_task(0x5006);
    MEM_POOL* cls = mempool_class_of(40);
    mempool_free(mempool_alloc(40));  // carve first, so "total" stays put
    MEMPOOL_STATS before = mempool_stats(cls);
    EVENT_REG r{};
    r.fd = -1;
    r.flags = EV_TIMER;
    r.period = 1000000;
    r.user_data = mempool_alloc(40);
    uint32_t id = reg(t, r);
    EXPECT_EQ(mempool_stats(cls).used, before.used + 1);
    drop(t, id);
    ASSERT_TRUE(wait_until([&] { return mempool_stats(cls).used == before.used; }));
}

std::mutex g_tick_lock;
std::vector<uint32_t> g_timer_ticks;
void on_period(THR_TASK*, EVENT_HANDLER* h) {
    std::lock_guard<std::mutex> lk(g_tick_lock);
    g_timer_ticks.push_back(h->last);
}

TEST_F(Handlers, TimerHonoursItsPeriodAgainstTheTick) {
    constexpr uint32_t kPeriod = 50;
    THR_TASK* t = start_recording_task(0x5007);
    EVENT_REG r{};
    r.fd = -1;
    r.flags = EV_TIMER;
    r.period = kPeriod;
    r.timer_fn = on_period;
    uint32_t registered_at = get_tick();
    uint32_t id = reg(t, r);
    ASSERT_TRUE(wait_until([] {
        std::lock_guard<std::mutex> lk(g_tick_lock);
        return g_timer_ticks.size() >= 4;
    }));
    drop(t, id);
    std::lock_guard<std::mutex> lk(g_tick_lock);
    EXPECT_GE(g_timer_ticks[0] - registered_at, kPeriod);
    for (size_t i = 1; i < g_timer_ticks.size(); ++i)
        EXPECT_GE(g_timer_ticks[i] - g_timer_ticks[i - 1], kPeriod) << i;
}

}  // namespace
