// Waiting for queued frames: a consumer that found its queues empty sleeps until a producer's
// fan-out, not for its whole time-out, and never misses a frame queued before it slept.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "core/frame.h"
#include "core_env.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

TEST(FrameWaitTest, AFanOutWakesTheWaiterAndAnEarlierOneIsNotMissed) {
    core_env();
    frame_buff_head q;
    init_frame_buff_head(&q);
    frame_buff* f = alloc_frame(16);
    ASSERT_NE(f, nullptr);

    // Nothing queued: the wait lasts its time-out.
    uint32_t seen = frame_queued_epoch();
    auto t0 = Clock::now();
    frame_wait_queued(seen, 30000);
    EXPECT_GE(Clock::now() - t0, 25ms);

    // Queued after the epoch was read but before the wait: no sleep at all.
    seen = frame_queued_epoch();
    ASSERT_EQ(frame_fan_out(&q, f, 100), 0);
    t0 = Clock::now();
    frame_wait_queued(seen, 5000000);
    EXPECT_LT(Clock::now() - t0, 2s);

    // Queued while waiting: woken long before the 5 s time-out.
    seen = frame_queued_epoch();
    std::thread producer([&] {
        std::this_thread::sleep_for(50ms);
        frame_fan_out(&q, f, 100);
    });
    t0 = Clock::now();
    frame_wait_queued(seen, 5000000);
    EXPECT_LT(Clock::now() - t0, 2s);
    producer.join();
    EXPECT_EQ(frame_queue_flush(&q), 2);
    free_frame(f);
}

} // namespace
