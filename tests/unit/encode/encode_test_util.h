// The encode tasks run against the media facade over the recording platform: pictures and PCM
// frames are queued there and signalled on the descriptors the tasks wait on.
#pragma once
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "core/frame.h"
#include "media/codec.h"
#include "recording_mpi.h"

namespace encode_test {

using hdext::test::rec;

// A fresh recording platform with descriptors, and the facade units the tasks use (created
// once: the facade keeps them for the whole program).
inline void fresh_platform() {
    static const bool units = [] {
        INTF_VENC_Create(0);
        INTF_AI_Create(0, 0);
        INTF_AI_Create(1, 0);
        return true;
    }();
    (void)units;
    rec().reset();
    rec().use_descriptors();
}

// Queues one encoded picture of `size` bytes whose first bytes and time stamp carry `tag`.
inline void push_picture(uint32_t size, uint32_t tag) {
    std::vector<uint8_t> bytes(size, 0x11);
    std::memcpy(bytes.data(), &tag, std::min<size_t>(4, size));
    rec().queue_picture(std::move(bytes), tag);
}
inline void push_pcm(std::vector<int16_t> samples, uint64_t stamp = 0, uint32_t seq = 0) {
    rec().queue_pcm(std::move(samples), stamp, seq);
}
inline int pictures_taken() { return rec().count("ss_mpi_venc_get_stream"); }

// The audio input commands the platform saw since the last look: attributes set (device,
// rate, bit width), channel started, channel stopped.
inline std::vector<std::string> ai_commands() {
    std::lock_guard<std::recursive_mutex> g(rec().mu);
    std::vector<std::string> out;
    auto str = [](long long v) { return std::to_string(v); };
    for (const auto& c : rec().calls) {
        if (c.name == "ss_mpi_ai_set_pub_attr") {
            const auto a = c.as<ot_aio_attr>();
            out.push_back("ai_set_audio " + str(c.args[0]) + " " + str(a.sample_rate) + " " +
                          str(a.bit_width));
        } else if (c.name == "ss_mpi_ai_enable_chn") {
            out.push_back("ai_start " + str(c.args[0]) + " " + str(c.args[1]));
        } else if (c.name == "ss_mpi_ai_disable_chn") {
            out.push_back("ai_stop " + str(c.args[0]) + " " + str(c.args[1]));
        }
    }
    rec().calls.clear();
    return out;
}

// Frame pools for the whole test program, as start-up makes them.
class FramePools : public ::testing::Environment {
public:
    void SetUp() override {
        ASSERT_EQ(init_frame_buff_mgr(512, 102400), 0);
        ASSERT_EQ(init_audio_frame_buff_mgr(512, 8192), 0);
    }
};

// Drains a list; returns the pts of each frame in order.
inline std::vector<uint64_t> drain(frame_buff_head* list, bool audio = false) {
    std::vector<uint64_t> out;
    while (frame_buff* f = frame_dequeue(list)) {
        out.push_back(f->pts);
        audio ? free_audio_frame(f) : free_frame(f);
    }
    return out;
}

} // namespace encode_test
