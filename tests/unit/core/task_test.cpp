// Tasks and messages: delivery, copies, draining, the stop message, the timer task.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstring>

#include "core/task.h"
#include "core_env.h"

namespace {

bool got(uint32_t mid, uint32_t msg_id) {
    for (const SeenMsg& s : seen_by(mid))
        if (s.msg_id == msg_id) return true;
    return false;
}

int send(uint32_t src, uint32_t dst, uint32_t id, uint32_t len = 0, const void* data = nullptr) {
    MSG_INFO m{src, dst, id, len, data};
    return send_msg(&m);
}

TEST(Tasks, BroadcastReachesEveryTaskButTheSenderTimerIncludedAndUnknownOnesAreRefused) {
    start_recording_task(0x3000);
    start_recording_task(0x2101);
    start_recording_task(0x2102);
    ASSERT_NE(get_task_info(kMidTimer), nullptr);
    EXPECT_EQ(send(0x3000, kMidBroadcast, 0x3099), 1);
    ASSERT_TRUE(wait_until([] {
        return got(0x2101, 0x3099) && got(0x2102, 0x3099) && got(kMidTimer, 0x3099);
    }));
    // The sender's own queue never saw it: a later unicast arrives alone.
    EXPECT_EQ(send(0x0, 0x3000, 0x3098), 1);
    ASSERT_TRUE(wait_until([] { return got(0x3000, 0x3098); }));
    EXPECT_FALSE(got(0x3000, 0x3099));
    EXPECT_EQ(seen_by(0x2101).back().dst, kMidBroadcast);
    EXPECT_EQ(seen_by(0x2101).back().src, 0x3000u);
    // An unknown destination is refused.
    EXPECT_EQ(send(0x1, 0x6666, 1), 0);
    EXPECT_EQ(send_msg(nullptr), 0);
    EXPECT_EQ(unregister_task(0x6666), 0);
    EXPECT_EQ(get_task_info(0x6666), nullptr);
}

TEST(Tasks, PayloadsArePrivateCopies) {
    start_recording_task(0x2201);
    char buf[6] = "hello";
    std::string big(300, 'x');
    big[299] = 'z';
    EXPECT_EQ(send(0x9, 0x2201, 0x2202, 0, nullptr), 1);
    EXPECT_EQ(send(0x9, 0x2201, 0x2203, 5, buf), 1);
    std::memcpy(buf, "XXXXX", 5);  // the sender reuses its buffer at once
    EXPECT_EQ(send(0x9, 0x2201, 0x2204, 300, big.data()), 1);
    EXPECT_EQ(send(0x9, 0x2201, 0x2205, 4, nullptr), 1);  // a length without data
    ASSERT_TRUE(wait_until([] { return got(0x2201, 0x2205); }));
    auto s = seen_by(0x2201);
    ASSERT_EQ(s.size(), 4u);
    EXPECT_EQ(s[0].len, 0u);
    EXPECT_FALSE(s[0].has_data);
    EXPECT_EQ(s[1].data, "hello");
    EXPECT_EQ(s[1].src, 0x9u);
    EXPECT_EQ(s[2].data, big);
    EXPECT_EQ(s[3].len, 4u);
    EXPECT_FALSE(s[3].has_data);
}

TEST(Tasks, MessagesQueuedWhileBusyAreDrainedInOnePassInOrder) {
    THR_TASK* t = start_recording_task(0x2301);
    block_task(t);
    for (uint32_t id : {0x2311u, 0x2312u, 0x2313u}) EXPECT_EQ(send(0x1, 0x2301, id), 1);
    EXPECT_EQ(get_msg_count(&t->queue), 3u);
    release_blocked();
    ASSERT_TRUE(wait_until([] { return got(0x2301, 0x2313); }));
    auto s = seen_by(0x2301);
    ASSERT_EQ(s.size(), 4u);
    EXPECT_EQ(s[1].msg_id, 0x2311u);
    EXPECT_EQ(s[2].msg_id, 0x2312u);
    EXPECT_EQ(s[3].msg_id, 0x2313u);
    EXPECT_EQ(s[1].pass, s[3].pass);
}

TEST(Tasks, StopMessageEndsTheLoopAfterTheCurrentPass) {
    THR_TASK* t = start_recording_task(0x2401);
    block_task(t);
    EXPECT_EQ(unregister_task(0x2401), 1);
    EXPECT_EQ(send(0x1, 0x2401, 0x2402), 1);  // queued behind the stop, same pass
    release_blocked();
    ASSERT_TRUE(wait_until([t] { return t->exited.load(); }));
    EXPECT_TRUE(got(0x2401, 0x2402));
    EXPECT_FALSE(got(0x2401, kMsgStopTask));
    EXPECT_EQ(t->state.load(), 2u);
    // The record stays registered; later messages are queued but nobody handles them.
    EXPECT_EQ(get_task_info(0x2401), t);
    EXPECT_EQ(send(0x1, 0x2401, 0x2403), 1);
    EXPECT_EQ(get_msg_count(&t->queue), 1u);
    clear_msg(&t->queue);
}


TEST(Tasks, ExhaustedMessagePoolLosesTheMessageButStillWakes) {
    THR_TASK* t = start_recording_task(0x2801);
    block_task(t);
    int refused = 0;
    std::string out = capture_stdout([&] {
        for (int i = 0; i < 1100; ++i) EXPECT_EQ(send(0x1, 0x2801, 0x2802), 1);
    });
    for (size_t at = out.find("Not Enough MQ_LIST , src_mid=0x1, dst_mid=0x2801\n");
         at != std::string::npos; at = out.find("Not Enough", at + 1))
        ++refused;
    EXPECT_EQ(static_cast<uint32_t>(refused) + get_msg_count(&t->queue), 1100u);
    EXPECT_GT(refused, 0);
    release_blocked();
    ASSERT_TRUE(wait_until([t] { return get_msg_count(&t->queue) == 0; }));
    EXPECT_EQ(send(0x1, 0x2801, 0x2803), 1);  // the pool is whole again
    ASSERT_TRUE(wait_until([] { return got(0x2801, 0x2803); }));
}


}  // namespace
