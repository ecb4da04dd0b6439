#include "core_env.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <mutex>
#include <thread>

#include "core/frame.h"

void core_env() {
    static std::once_flag once;
    std::call_once(once, [] {
        mempool_init();
        init_frame_buff_mgr(kEnvVideoFrames, kEnvVideoSize);
        init_audio_frame_buff_mgr(kEnvAudioFrames, kEnvAudioSize);
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
