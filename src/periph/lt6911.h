// HDMI input detection on a TX: on each change notification of the HDMI receiver chip, read
// the input timing and audio rate over I2C, match them against the supported formats and
// start, retune or stop the capture pipeline.
#pragma once
#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <thread>

#include "board/i2c.h"
#include "board/notify.h"
#include "encode/capture_pipeline.h"

extern std::atomic<int> old_hdmi_sync;      // sync id the pipeline runs with (49 = none)
extern std::atomic<int> old_audio_sampling; // audio rate the audio encoder runs with

// Starts the listener thread of the process-wide detector (TX start-up, after the chip's
// reset pulse). Returns 0.
int Lt6911Create();
// One detection sequence on the process-wide detector. Runs on the listener thread.
void lt6911_handler(int signo);
void LT6911UXC_HDMI_VideoCheck();
uint32_t hdmi_clock_6911UXC();
// Register value; 0xFF when the I2C bus cannot be opened.
uint8_t lt6911_i2c_read(uint8_t bank, uint8_t reg);
// Audio re-check for the audio encode task's thread; takes the LT6911 lock.
void get_6911_Audio();

namespace hdext {

inline constexpr int kNoSync = 49;
inline constexpr int kNoAudio = 96001;
inline constexpr uint8_t kLt6911I2cAddress = 0x2B;
inline constexpr int kLt6911I2cBus = 0;
inline constexpr std::chrono::milliseconds kLt6911LatchWait{20};
inline constexpr int kLt6911ListenTimeoutMs = 1000;

struct HdmiFormat {
    int width, height, rate, scan, sync; // scan: 1 progressive, 0 interlaced
};
// The supported formats, in search order (height as measured: fields for interlaced).
extern const HdmiFormat hdmi_size[8];
const HdmiFormat* find_hdmi_format(int width, int height, int rate);

// Frame rate from the pixel clock and the measured totals, snapped to 60/50/30 near those
// values. 0 when a total is 0 (no format).
int lt6911_frame_rate(uint32_t pixel_clock, uint32_t v_total, uint32_t half_h_total);
// Audio rate of the chip's sampling-frequency code; kNoAudio when none or not supported.
int lt6911_audio_rate(uint8_t code);

// The detection sequence against one chip. One sequence at a time (the LT6911 lock).
class Lt6911Detector {
public:
    // bus may be null (no bus: every read gives 0xFF). Both must outlive the detector.
    Lt6911Detector(board::I2cBus* bus, CapturePipeline& pipeline,
                   std::chrono::milliseconds latch_wait = kLt6911LatchWait);

    void run_sequence();      // the whole detection sequence under the lock
    void video_check();       // timing and audio read-out and pipeline update; lock held
    uint32_t measure_clock(); // lock held
    uint8_t read(uint8_t bank, uint8_t reg);
    void recheck_audio();     // get_6911_Audio
    uint32_t pixel_clock() const { return clock_.load(std::memory_order_relaxed); }

private:
    void write(uint8_t reg, uint8_t value);
    void select_bank(uint8_t bank) { write(0xFF, bank); }
    void set_access(bool open);
    uint32_t read16(uint8_t hi_reg, uint8_t lo_reg);
    void publish(int sync);
    void no_format();
    void take_format(const HdmiFormat& f, int width, int height, int audio);

    board::I2cBus* bus_;
    CapturePipeline& pipeline_;
    std::chrono::milliseconds latch_wait_;
    std::mutex lock_; // the LT6911 lock
    std::atomic<uint32_t> clock_{0};
};

// Waits for the chip's change notifications and runs one sequence per notification, on its
// own thread. The destructor stops and joins it (tests); the program's listener never ends.
class Lt6911Listener {
public:
    Lt6911Listener(Lt6911Detector& detector, const char* dev_path,
                   int timeout_ms = kLt6911ListenTimeoutMs);
    ~Lt6911Listener();
    int sequences_run() const { return runs_.load(); }

private:
    void run();
    Lt6911Detector& detector_;
    const char* dev_path_;
    int timeout_ms_;
    std::atomic<bool> stop_{false};
    std::atomic<int> runs_{0};
    std::thread thread_;
};

// The listener loop: opens the notifier of dev_path (retrying while it is missing), runs one
// sequence once it is open and one per notification until `stop` becomes true; counts the
// sequences in `runs`.
void lt6911_listen(Lt6911Detector& detector, const char* dev_path, int timeout_ms,
                   const std::atomic<bool>& stop, std::atomic<int>& runs);

} // namespace hdext
