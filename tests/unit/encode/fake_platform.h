// An observable stand-in for the media platform of the encode tasks: records every call,
// hands out queued pictures and PCM frames, and signals them on real pipe descriptors.
#pragma once
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "core/frame.h"
#include "encode/encode_platform.h"

namespace encode_test {

class FakePlatform : public hdext::EncodePlatform {
public:
    FakePlatform() {
        EXPECT_EQ(pipe2(venc_pipe_, O_NONBLOCK | O_CLOEXEC), 0);
        EXPECT_EQ(pipe2(ai_pipe_, O_NONBLOCK | O_CLOEXEC), 0);
    }
    ~FakePlatform() override {
        for (int fd : {venc_pipe_[0], venc_pipe_[1], ai_pipe_[0], ai_pipe_[1]}) ::close(fd);
    }

    // Queues one encoded picture of `size` bytes whose first bytes carry `tag`.
    void push_picture(uint32_t size, uint32_t tag) {
        {
            std::lock_guard<std::mutex> g(mu_);
            pictures_.push_back({size, tag});
        }
        char b = 1;
        std::lock_guard<std::mutex> g(mu_);
        EXPECT_EQ(::write(venc_pipe_[1], &b, 1), 1);
    }
    // Queues one PCM frame (16-bit samples).
    void push_pcm(std::vector<int16_t> samples, uint64_t stamp = 0, uint32_t seq = 0) {
        std::lock_guard<std::mutex> g(mu_);
        pcm_.push_back({std::move(samples), stamp, seq});
        char b = 1;
        EXPECT_EQ(::write(ai_pipe_[1], &b, 1), 1);
    }
    // The encoder is destroyed and created again: a new descriptor, the old one closed.
    void recreate_encoder() {
        std::lock_guard<std::mutex> g(mu_);
        int fresh[2];
        EXPECT_EQ(pipe2(fresh, O_NONBLOCK | O_CLOEXEC), 0);
        ::close(venc_pipe_[0]);
        ::close(venc_pipe_[1]);
        venc_pipe_[0] = fresh[0];
        venc_pipe_[1] = fresh[1];
    }
    std::vector<std::string> take() {
        std::lock_guard<std::mutex> g(mu_);
        return std::exchange(calls_, {});
    }
    int pictures_taken() {
        std::lock_guard<std::mutex> g(mu_);
        return taken_;
    }
    int fd_reads() {
        std::lock_guard<std::mutex> g(mu_);
        return fd_reads_;
    }
    bool fail_alloc_pictures = false;

    int vi_create(int d, int c) override { return rec("vi_create", {d, c}); }
    int venc_create(int c) override { return rec("venc_create", {c}); }
    int venc_set_encode_type(int c, int p) override { return rec("venc_set_encode_type", {c, p}); }
    int set_resolution(int s, int i, int r, int w, int h) override {
        return rec("set_resolution", {s, i, r, w, h});
    }
    int vi_set_intf_mode(int d, int c, int m, int s) override {
        return rec("vi_set_intf_mode", {d, c, m, s});
    }
    int venc_set_bitrate(int c, int b) override { return rec("venc_set_bitrate", {c, b}); }
    int venc_start(int c) override { return rec("venc_start", {c}); }
    int vi_start(int d, int c) override { return rec("vi_start", {d, c}); }
    int sys_bind(int a, int b, int c, int d, int e, int f) override {
        return rec("sys_bind", {a, b, c, d, e, f});
    }
    int venc_get_fd(int) override {
        std::lock_guard<std::mutex> g(mu_);
        ++fd_reads_;
        return venc_pipe_[0];
    }
    int venc_read_fd() {
        std::lock_guard<std::mutex> g(mu_);
        return venc_pipe_[0];
    }
    int venc_close_fd(int c) override { return rec("venc_close_fd", {c}); }
    frame_buff* venc_get_stream(int, int* size) override {
        char b;
        if (::read(venc_read_fd(), &b, 1) != 1) return nullptr;
        Picture p;
        {
            std::lock_guard<std::mutex> g(mu_);
            if (pictures_.empty()) return nullptr;
            p = pictures_.front();
            pictures_.pop_front();
            ++taken_;
        }
        frame_buff* f = alloc_frame(p.size);
        if (!f) return nullptr;
        std::vector<uint8_t> bytes(p.size, 0x11);
        std::memcpy(bytes.data(), &p.tag, std::min<size_t>(4, p.size));
        frame_copy_data(f, bytes.data(), p.size);
        f->kind = kFrameKindVideo;
        f->pts = p.tag;
        *size = static_cast<int>(p.size);
        return f;
    }
    int vi_get_mod_param(ot_vi_mod_param*) override { return 0; }
    int vi_set_mod_param(const ot_vi_mod_param* p) override {
        return rec("vi_set_mod_param", {p->low_delay_en});
    }
    int venc_get_mod_param(ot_venc_mod_param*) override { return 0; }
    int venc_set_mod_param(const ot_venc_mod_param* p) override {
        return rec("venc_set_mod_param", {p->frame_buf_recycle});
    }
    int aenc_create(int c) override { return rec("aenc_create", {c}); }
    int ai_create(int d, int c) override { return rec("ai_create", {d, c}); }
    int ai_set_audio(int d, int c, int r, int m, int w) override {
        return rec("ai_set_audio", {d, c, r, m, w});
    }
    int ai_start(int d, int c) override {
        if (new_ai_fd_on_start) {
            std::lock_guard<std::mutex> g(mu_);
            int fresh[2];
            EXPECT_EQ(pipe2(fresh, O_NONBLOCK | O_CLOEXEC), 0);
            ::close(ai_pipe_[0]);
            ::close(ai_pipe_[1]);
            ai_pipe_[0] = fresh[0];
            ai_pipe_[1] = fresh[1];
        }
        return rec("ai_start", {d, c});
    }
    bool new_ai_fd_on_start = false; // like a platform whose input gets a new descriptor
    int ai_stop(int d, int c) override { return rec("ai_stop", {d, c}); }
    int ai_get_fd(int, int) override {
        std::lock_guard<std::mutex> g(mu_);
        return ai_pipe_[0];
    }
    int ai_get_frame(int, int, ot_audio_frame* f, ot_aec_frame*) override {
        char b;
        std::lock_guard<std::mutex> g(mu_);
        if (::read(ai_pipe_[0], &b, 1) != 1) return 0xA0018006;
        current_ = std::move(pcm_.front());
        pcm_.pop_front();
        f->virt_addr[0] = reinterpret_cast<uint8_t*>(current_.samples.data());
        f->len = static_cast<uint32_t>(current_.samples.size() * 2);
        f->time_stamp = current_.stamp;
        f->seq = current_.seq;
        return 0;
    }
    int ai_release_frame(int, int, const ot_audio_frame*, const ot_aec_frame*) override {
        ++released;
        return 0;
    }
    int released = 0;

private:
    struct Picture {
        uint32_t size, tag;
    };
    struct Pcm {
        std::vector<int16_t> samples;
        uint64_t stamp;
        uint32_t seq;
    };
    int rec(const char* name, std::initializer_list<int> args) {
        std::string s = name;
        for (int a : args) s += " " + std::to_string(a);
        std::lock_guard<std::mutex> g(mu_);
        calls_.push_back(s);
        return 0;
    }
    std::mutex mu_;
    std::vector<std::string> calls_;
    std::deque<Picture> pictures_;
    std::deque<Pcm> pcm_;
    Pcm current_;
    int taken_ = 0;
    int fd_reads_ = 0;
    int venc_pipe_[2];
    int ai_pipe_[2];
};

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
