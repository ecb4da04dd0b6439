// The recording platform's descriptor-driven hand-out of pictures and PCM frames.
#include "recording_mpi.h"
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

namespace hdext::test {
namespace {

void open_pipe(int (&p)[2]) {
    EXPECT_EQ(pipe2(p, O_NONBLOCK | O_CLOEXEC), 0);
}
void close_pipe(int (&p)[2]) {
    for (int& fd : p) {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
}
void signal(int fd) {
    const char b = 1;
    EXPECT_EQ(::write(fd, &b, 1), 1);
}
bool consume(int fd) {
    char b;
    return ::read(fd, &b, 1) == 1;
}

} // namespace

void RecordingMpi::use_descriptors() {
    std::lock_guard<std::recursive_mutex> g(mu);
    close_descriptors();
    open_pipe(venc_pipe_);
    open_pipe(ai_pipe_);
}

void RecordingMpi::close_descriptors() {
    close_pipe(venc_pipe_);
    close_pipe(ai_pipe_);
    pictures_.clear();
    picture_pts_.clear();
    pcm_.clear();
}

void RecordingMpi::queue_picture(std::vector<uint8_t> bytes, uint64_t pts) {
    std::lock_guard<std::recursive_mutex> g(mu);
    pictures_.push_back(std::move(bytes));
    picture_pts_.push_back(pts);
    signal(venc_pipe_[1]);
}

void RecordingMpi::queue_pcm(std::vector<int16_t> samples, uint64_t stamp, uint32_t seq) {
    std::lock_guard<std::recursive_mutex> g(mu);
    pcm_.push_back({std::move(samples), stamp, seq});
    signal(ai_pipe_[1]);
}

void RecordingMpi::renew_venc_fd() {
    std::lock_guard<std::recursive_mutex> g(mu);
    close_pipe(venc_pipe_);
    open_pipe(venc_pipe_);
    for (size_t i = 0; i < pictures_.size(); ++i)
        signal(venc_pipe_[1]);
}

void RecordingMpi::renew_ai_fd() {
    std::lock_guard<std::recursive_mutex> g(mu);
    close_pipe(ai_pipe_);
    open_pipe(ai_pipe_);
    for (size_t i = 0; i < pcm_.size(); ++i)
        signal(ai_pipe_[1]);
}

int RecordingMpi::venc_fd() {
    std::lock_guard<std::recursive_mutex> g(mu);
    return venc_pipe_[0];
}

int RecordingMpi::ai_fd() {
    std::lock_guard<std::recursive_mutex> g(mu);
    return ai_pipe_[0];
}

uint32_t RecordingMpi::pictures_waiting() {
    std::lock_guard<std::recursive_mutex> g(mu);
    return pictures_.empty() ? 0 : 1;
}

bool RecordingMpi::take_picture(ot_venc_pack* pack) {
    std::lock_guard<std::recursive_mutex> g(mu);
    if (pictures_.empty() || !consume(venc_pipe_[0]))
        return false;
    picture_out_ = std::move(pictures_.front());
    pictures_.pop_front();
    *pack = ot_venc_pack{};
    pack->addr = picture_out_.data();
    pack->len = static_cast<uint32_t>(picture_out_.size());
    pack->pts = picture_pts_.front();
    picture_pts_.pop_front();
    return true;
}

bool RecordingMpi::take_pcm(ot_audio_frame* frame) {
    std::lock_guard<std::recursive_mutex> g(mu);
    if (pcm_.empty() || !consume(ai_pipe_[0]))
        return false;
    pcm_out_ = std::move(pcm_.front());
    pcm_.pop_front();
    frame->virt_addr[0] = reinterpret_cast<uint8_t*>(pcm_out_.samples.data());
    frame->len = static_cast<uint32_t>(pcm_out_.samples.size() * 2);
    frame->time_stamp = pcm_out_.stamp;
    frame->seq = pcm_out_.seq;
    return true;
}

} // namespace hdext::test
