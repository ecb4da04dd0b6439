// HDMI input detection (TX): the LT6911 receiver chip's format read-out and the listener that
// runs it on every input-change notification.
// NOTE: rebuilt from lt6911.cpp after the original header was overwritten by mistake; its
// owner may replace it.
#pragma once
#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <thread>

#include "board/i2c.h"
#include "board/notify.h"
#include "encode/capture_pipeline.h"

extern std::atomic<int> old_hdmi_sync;
extern std::atomic<int> old_audio_sampling;

namespace hdext {

inline constexpr int kNoSync = 49;
inline constexpr int kNoAudio = 96001;
inline constexpr uint16_t kLt6911I2cAddress = 0x2B;
inline constexpr int kLt6911I2cBus = 0;
inline constexpr int kLt6911ListenTimeoutMs = 1000;

struct HdmiFormat {
    int width;
    int height;
    int rate;
    int scan; // 1 progressive, 0 interlaced
    int sync;
};

extern const HdmiFormat hdmi_size[8];
const HdmiFormat* find_hdmi_format(int width, int height, int rate);
int lt6911_frame_rate(uint32_t pixel_clock, uint32_t v_total, uint32_t half_h_total);
int lt6911_audio_rate(uint8_t code);

// One detection sequence at a time (its own lock); the chip is reached through bus.
class Lt6911Detector {
public:
    Lt6911Detector(board::I2cBus* bus, CapturePipeline& pipeline,
                   std::chrono::milliseconds latch_wait = std::chrono::milliseconds(20));

    void run_sequence();
    void video_check();
    void recheck_audio();
    uint32_t measure_clock();
    uint8_t read(uint8_t bank, uint8_t reg);
    uint32_t pixel_clock() const { return clock_.load(std::memory_order_relaxed); }

private:
    void write(uint8_t reg, uint8_t value);
    void select_bank(uint8_t bank) { write(0xFF, bank); }
    uint32_t read16(uint8_t hi_reg, uint8_t lo_reg);
    void set_access(bool open);
    void publish(int sync);
    void no_format();
    void take_format(const HdmiFormat& f, int width, int height, int audio);

    board::I2cBus* bus_;
    CapturePipeline& pipeline_;
    std::chrono::milliseconds latch_wait_;
    std::mutex lock_;
    std::atomic<uint32_t> clock_{0};
};

// A listener thread for tests: runs the detector on each notification of dev_path until
// destroyed.
class Lt6911Listener {
public:
    Lt6911Listener(Lt6911Detector& detector, const char* dev_path, int timeout_ms);
    ~Lt6911Listener();
    int runs() const { return runs_.load(); }

private:
    void run();
    Lt6911Detector& detector_;
    const char* dev_path_;
    int timeout_ms_;
    std::atomic<bool> stop_{false};
    std::atomic<int> runs_{0};
    std::thread thread_;
};

} // namespace hdext

int Lt6911Create();
void lt6911_handler(int sig);
void LT6911UXC_HDMI_VideoCheck();
uint32_t hdmi_clock_6911UXC();
uint8_t lt6911_i2c_read(uint8_t bank, uint8_t reg);
void get_6911_Audio();
