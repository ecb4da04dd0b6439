// Frames: chunk rule, copies, shared payload with reference counts, queues and fan-out.
#include <gtest/gtest.h>

#include <atomic>
#include <numeric>
#include <thread>
#include <vector>

#include "core/frame.h"
#include "core/mempool.h"
#include "core_env.h"

namespace {

struct PoolCounts {
    MEMPOOL_STATS heads, blocks;
    static PoolCounts of(uint16_t kind) {
        return {mempool_stats(frame_pool(kind, false)), mempool_stats(frame_pool(kind, true))};
    }
    // Carving moves "total" and "free"; what is handed out is what must come back.
    bool operator==(const PoolCounts& o) const {
        return heads.used == o.heads.used && blocks.used == o.blocks.used;
    }
};

class Frames : public ::testing::Test {
protected:
    void SetUp() override {
        core_env();
        // Warm the pools so carving does not move "total" between snapshots.
        capture_stdout([] {
            free_frame(alloc_frame(4 * kEnvVideoSize));
            frame_buff* a = alloc_audio_frame(100);
            a->kind = kFrameKindAudio;
            free_frame(a);
        });
        video0 = PoolCounts::of(kFrameKindVideo);
        audio0 = PoolCounts::of(kFrameKindAudio);
    }
    void TearDown() override {
        EXPECT_TRUE(PoolCounts::of(kFrameKindVideo) == video0) << "video records leaked";
        EXPECT_TRUE(PoolCounts::of(kFrameKindAudio) == audio0) << "audio records leaked";
    }
    PoolCounts video0{}, audio0{};
};

std::vector<uint8_t> pattern(size_t n) {
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(i * 7 + i / 251);
    return v;
}

// What a reader sees: the first chunk, then the chain.
std::vector<uint8_t> read_all(frame_buff* f) {
    std::vector<uint8_t> out(f->rd, f->rd + f->len);
    for (frame_buff* c = frame_ctl_of(f)->chain; c; c = frame_ctl_of(c)->chain)
        out.insert(out.end(), c->rd, c->rd + c->len);
    return out;
}

// Chunk borders: copies append across them, whatever the size.
TEST_F(Frames, CopiesFillTheChunksAcrossTheirBorders) {
    for (uint32_t size : {102400u, 102401u, 3u * 102400 + 5}) {
        frame_buff* f = alloc_frame(size);
        ASSERT_NE(f, nullptr);
        auto src = pattern(size);
        const uint32_t half = size / 2;
        EXPECT_EQ(frame_copy_data(f, src.data(), half), static_cast<int>(half));
        EXPECT_EQ(frame_copy_data(f, src.data() + half, size - half),
                  static_cast<int>(size - half));
        EXPECT_EQ(f->len, 102400u);
        EXPECT_EQ(f->total, size);
        EXPECT_EQ(read_all(f), src) << size;
        EXPECT_NE(frame_ctl_of(f)->chain, nullptr) << size;
        free_frame(f);
    }
}

TEST_F(Frames, CopyLongerThanTheSizeOrAFrameLargerThanThePoolGetsNothing) {
    frame_buff* f = alloc_frame(10);
    auto src = pattern(11);
    EXPECT_EQ(frame_copy_data(f, src.data(), 11), -1);
    EXPECT_EQ(f->len, 0u);
    EXPECT_EQ(f->total, 0u);
    EXPECT_EQ(frame_copy_data(f, nullptr, 1), -1);
    EXPECT_EQ(frame_copy_data(nullptr, src.data(), 1), -1);
    free_frame(f);
    // More chunks than the payload pool holds: the partial frame is released (TearDown checks).
    EXPECT_EQ(alloc_frame(kEnvVideoFrames * 102400u), nullptr);
}

TEST_F(Frames, ClonesShareThePayloadUntilTheLastReferenceIsFreed) {
    frame_buff* f = alloc_frame(102401);
    auto src = pattern(102401);
    frame_copy_data(f, src.data(), 102401);
    f->kind = kFrameKindVideo;
    f->pts = 0x123456789ull;
    f->aux = 77;
    frame_buff* c1 = frame_clone(f);
    frame_buff* c2 = frame_clone(f);
    ASSERT_TRUE(c1 && c2);
    EXPECT_EQ(c1->pts, f->pts);
    EXPECT_EQ(c1->aux, 77u);
    EXPECT_EQ(c1->total, 102401u);
    EXPECT_EQ(read_all(c2), src);

    PoolCounts now = PoolCounts::of(kFrameKindVideo);
    EXPECT_EQ(now.heads.used, video0.heads.used + 4);  // first, chunk, two clones
    EXPECT_EQ(now.blocks.used, video0.blocks.used + 2);

    free_frame(f);
    free_frame(c1);
    now = PoolCounts::of(kFrameKindVideo);
    EXPECT_EQ(now.heads.used, video0.heads.used + 2);
    EXPECT_EQ(now.blocks.used, video0.blocks.used + 2);  // payload still held by c2
    EXPECT_EQ(read_all(c2), src);
    free_frame(c2);  // TearDown checks every record and block came back once
}

class Queue : public Frames {
protected:
    void SetUp() override {
        Frames::SetUp();
        init_frame_buff_head(&q);
    }
    void TearDown() override {
        frame_queue_flush(&q);
        Frames::TearDown();
    }
    frame_buff* make(uint32_t tag) {
        frame_buff* f = alloc_frame(16);
        f->kind = kFrameKindVideo;
        f->aux = tag;
        return f;
    }
    std::vector<uint32_t> tags() {
        std::vector<uint32_t> v;
        for (frame_buff* f = q.first; f != frame_queue_end(&q); f = f->next) v.push_back(f->aux);
        return v;
    }
    frame_buff_head q;
};

TEST_F(Queue, ConsumerOverTheLimitNextReceivesTheNewestFrameOnly) {
    constexpr int kLimit = 2;
    frame_buff_head other;
    init_frame_buff_head(&other);
    for (uint32_t tag = 1; tag <= 4; ++tag) {
        frame_buff* f = make(tag);
        ASSERT_EQ(frame_fan_out(&q, f, kLimit), 0);
        ASSERT_EQ(frame_fan_out(&other, f, 100), 0);
        free_frame(f);  // the producer's own reference
        if (tag == 3) {
            EXPECT_EQ(tags(), (std::vector<uint32_t>{1, 2, 3}));
        }
    }
    // The fourth frame found three queued (more than 2): all dropped, then 4 queued.
    EXPECT_EQ(tags(), (std::vector<uint32_t>{4}));
    EXPECT_EQ(other.count, 4);
    frame_buff* f = frame_dequeue(&q);
    EXPECT_EQ(f->aux, 4u);
    free_frame(f);
    frame_queue_flush(&other);
}

TEST_F(Queue, BacklogHoldingTheLastRecordsIsDroppedBeforeTheClone) {
    frame_buff* f = make(1);
    int queued = 0;
    while (frame_buff* c = frame_clone(f)) {
        frame_queue_tail(&q, c);
        ++queued;
    }
    ASSERT_GT(queued, 10);  // every record of the pool is now in the queue or the frame
    EXPECT_EQ(frame_fan_out(&q, f, 10), 0);
    EXPECT_EQ(frame_queue_count(&q), 1);
    free_frame(f);
}

TEST_F(Queue, ProducerAndConsumerThreadsBalance) {
    constexpr int kFrames = 2000;
    std::atomic<int> produced{0};
    std::thread producer([&] {
        for (int i = 0; i < kFrames; ++i) {
            frame_buff* f;
            while (!(f = alloc_frame(64))) std::this_thread::yield();
            f->kind = kFrameKindVideo;
            f->aux = static_cast<uint32_t>(i);
            while (frame_fan_out(&q, f, 1000) != 0) std::this_thread::yield();
            free_frame(f);
            produced.fetch_add(1);
        }
    });
    std::vector<uint32_t> seen;
    while (static_cast<int>(seen.size()) < kFrames) {
        frame_buff* f = frame_dequeue(&q);
        if (!f) {
            std::this_thread::yield();
            continue;
        }
        seen.push_back(f->aux);
        free_frame(f);
    }
    producer.join();
    std::vector<uint32_t> want(kFrames);
    std::iota(want.begin(), want.end(), 0u);
    EXPECT_EQ(seen, want);
    EXPECT_EQ(produced.load(), kFrames);
    EXPECT_EQ(frame_queue_count(&q), 0);
}

}  // namespace
