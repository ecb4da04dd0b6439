#include "periph/lt6911.h"

#include <pthread.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "periph/app_status.h"
#include "periph/input_state.h"

std::atomic<int> old_hdmi_sync{-1};
std::atomic<int> old_audio_sampling{-1};

namespace hdext {

const HdmiFormat hdmi_size[8] = {
    {1920, 1080, 60, 1, 23}, {1920, 1080, 50, 1, 22}, {1920, 540, 60, 0, 21},
    {1920, 540, 50, 0, 20},  {1920, 1080, 30, 1, 19}, {1280, 720, 60, 1, 10},
    {1280, 720, 50, 1, 9},   {720, 480, 60, 1, 5},
};

const HdmiFormat* find_hdmi_format(int width, int height, int rate) {
    for (const auto& f : hdmi_size)
        if (f.width == width && f.height == height && f.rate == rate) return &f;
    return nullptr;
}

int lt6911_frame_rate(uint32_t pixel_clock, uint32_t v_total, uint32_t half_h_total) {
    const uint64_t divisor = 2ull * half_h_total * v_total;
    if (divisor == 0) return 0;
    const int rate = static_cast<int>(pixel_clock / divisor);
    if (rate > 57) return 60;
    if (rate >= 48 && rate <= 51) return 50;
    if (rate >= 28 && rate <= 31) return 30;
    return rate;
}

int lt6911_audio_rate(uint8_t code) {
    switch (code) {
    case 0: return 44100;
    case 2: return 48000;
    case 3: return 32000;
    case 10: return 96000;
    default: return kNoAudio;
    }
}

namespace {

constexpr uint8_t kBankAccess = 0x80, kRegAccess = 0xEE;
constexpr uint8_t kBankTiming = 0xD2, kRegTimingCtl = 0x83, kTimingLatch = 0x11;
constexpr uint8_t kBankAudio = 0xC0, kRegAudioCode = 0x18, kRegAudioState = 0x13;
constexpr int kStatusInputSync = 2; // sync id shown to the UI and the companion app
constexpr const char* kFormatLine = "\n $$$$$ 6911 w=%d,h=%d,frame=%d,SCAN_MODE_6911=%d \n";

void relaxed(std::atomic<int>& v, int x) { v.store(x, std::memory_order_relaxed); }
int get(const std::atomic<int>& v) { return v.load(std::memory_order_relaxed); }

} // namespace

Lt6911Detector::Lt6911Detector(board::I2cBus* bus, CapturePipeline& pipeline,
                               std::chrono::milliseconds latch_wait)
    : bus_(bus), pipeline_(pipeline), latch_wait_(latch_wait) {}

void Lt6911Detector::write(uint8_t reg, uint8_t value) {
    if (!bus_) return;
    const uint8_t buf[2] = {reg, value};
    int r = bus_->write(kLt6911I2cAddress, buf, 2);
    if (r == board::kI2cAddressFailed)
        std::puts("set i2c device address error!");
    else if (r != board::kI2cOk)
        std::puts("i2c write error!");
}

uint8_t Lt6911Detector::read(uint8_t bank, uint8_t reg) {
    if (!bus_) return 0xFF;
    select_bank(bank);
    uint8_t value = 0;
    int r = bus_->write_read(kLt6911I2cAddress, &reg, 1, &value, 1);
    if (r == board::kI2cAddressFailed)
        std::puts("CMD_SET_I2C_SLAVE error!");
    else if (r != board::kI2cOk)
        std::puts("CMD_I2C_READ error!");
    return value;
}

uint32_t Lt6911Detector::read16(uint8_t hi_reg, uint8_t lo_reg) {
    return (uint32_t{read(kBankTiming, hi_reg)} << 8) | read(kBankTiming, lo_reg);
}

void Lt6911Detector::set_access(bool open) {
    select_bank(kBankAccess);
    write(kRegAccess, open ? 0x01 : 0x00);
}

uint32_t Lt6911Detector::measure_clock() {
    select_bank(0xA0);
    select_bank(0xA0);
    write(0x34, 0x21);
    const uint32_t b1 = read(0xB8, 0xB1), b2 = read(0xB8, 0xB2), b3 = read(0xB8, 0xB3);
    const uint32_t clock = ((b1 & 0x0F) * 65536 + b2 * 256 + b3) * 2000;
    clock_.store(clock, std::memory_order_relaxed);
    return clock;
}

void Lt6911Detector::run_sequence() {
    std::puts("$$$ get a hdmi irq signal, start to read resolution");
    std::lock_guard<std::mutex> g(lock_);
    set_access(true);
    measure_clock();
    video_check();
    set_access(false);
}

void Lt6911Detector::publish(int sync) {
    relaxed(old_hdmi_sync, sync);
    app_status[kStatusInputSync].store(static_cast<uint8_t>(sync), std::memory_order_relaxed);
}

void Lt6911Detector::no_format() {
    relaxed(VO_SYNC_6911_ATT, kNoSync);
    relaxed(VO_SYNC_ATT, kNoSync);
    relaxed(MaxW_6911_ATT, 0);
    relaxed(MaxH_6911_ATT, 0);
    relaxed(FrameRate_6911, 0);
    relaxed(AudioSampling_6911, kNoAudio);
    switch (get(vi_mode)) {
    case 1:
        relaxed(old_hdmi_sync, kNoSync);
        relaxed(old_audio_sampling, kNoAudio);
        break;
    case 2:
        relaxed(vi_mode, 0);
        publish(kNoSync);
        relaxed(old_audio_sampling, kNoAudio);
        std::fputs("\n $$$$$ CLOSE 6911 \n", stderr);
        pipeline_.hdmi_turn_off_video();
        pipeline_.hdmi_turn_off_audio();
        break;
    case 0:
        relaxed(old_hdmi_sync, kNoSync);
        break;
    }
}

void Lt6911Detector::take_format(const HdmiFormat& f, int width, int height, int audio) {
    relaxed(VO_SYNC_ATT, f.sync);
    relaxed(MaxW_6911_ATT, width);
    relaxed(MaxH_6911_ATT, height);
    relaxed(FrameRate_6911, f.rate);
    relaxed(VO_SYNC_6911_ATT, f.sync);
    relaxed(SCAN_MODE_6911, f.scan);
    relaxed(AudioSampling_6911, audio);
    RestartAudio.store(1, std::memory_order_relaxed);

    switch (get(vi_mode)) {
    case 1: // SDI owns the pipeline; remember the HDMI format for the fall-back only
        relaxed(old_hdmi_sync, f.sync);
        break;
    case 2:
        if (f.sync != get(old_hdmi_sync)) {
            publish(f.sync);
            Frame_en.store(1, std::memory_order_relaxed);
            pipeline_.hdmi_turn_off_video();
            pipeline_.hdmi_turn_on_video();
            std::printf(kFormatLine, width, height, f.rate, f.scan);
        }
        if (audio != get(old_audio_sampling) && audio != kNoAudio) {
            relaxed(old_audio_sampling, audio);
            std::fprintf(stderr, "\n INPUTER_HDMI $$$$$ 6911 sampling=%d\n", audio);
            pipeline_.audio_restart();
        }
        break;
    case 0: {
        Frame_en.store(1, std::memory_order_relaxed);
        relaxed(vi_mode, 2);
        if (init_videc.exchange(0, std::memory_order_relaxed)) {
            publish(f.sync);
            std::fprintf(stderr,
                         "\n 6911 strat VENC $$$$$ 6911 w=%d,h=%d,frame=%d,SCAN_MODE_6911=%d \n",
                         width, height, f.rate, f.scan);
            pipeline_.start_video(INPUTER_HDMI);
        }
        const bool first_audio = init_audio.exchange(0, std::memory_order_relaxed) != 0;
        if (first_audio) {
            if (audio == kNoAudio) {
                audio = 48000;
                relaxed(AudioSampling_6911, audio);
            }
            relaxed(old_audio_sampling, audio);
            std::fprintf(stderr, "\n 6911 strat AENC $$$$$ 6911 sampling=%d\n", audio);
            pipeline_.start_audio(INPUTER_HDMI);
        }
        if (f.sync != get(old_hdmi_sync)) {
            publish(f.sync);
            pipeline_.hdmi_turn_on_video();
            std::fprintf(stderr, kFormatLine, width, height, f.rate, f.scan);
        }
        if (!first_audio && audio != kNoAudio && audio != get(old_audio_sampling)) {
            relaxed(old_audio_sampling, audio);
            std::fprintf(stderr, "\n INPUTER_NULL change $$$$$ 6911 sampling=%d\n", audio);
            pipeline_.hdmi_turn_on_audio();
        }
        break;
    }
    }
}

void Lt6911Detector::video_check() {
    select_bank(kBankTiming);
    write(kRegTimingCtl, kTimingLatch);
    std::this_thread::sleep_for(latch_wait_);
    const uint32_t v_total = read16(0x9E, 0x9F);
    const int height = static_cast<int>(read16(0x96, 0x97));
    const uint32_t half_h_total = read16(0x89, 0x8A);
    const int width = 2 * static_cast<int>(read16(0x8B, 0x8C));
    const uint8_t code = read(kBankAudio, kRegAudioCode);
    (void)read(kBankAudio, kRegAudioState);

    const int rate = lt6911_frame_rate(pixel_clock(), v_total, half_h_total);
    const int audio = lt6911_audio_rate(code);
    const HdmiFormat* f = rate ? find_hdmi_format(width, height, rate) : nullptr;
    if (!f) {
        no_format();
        return;
    }
    take_format(*f, width, f->scan == 0 ? height * 2 : height, audio);
}

void Lt6911Detector::recheck_audio() {
    std::lock_guard<std::mutex> g(lock_);
    set_access(true);
    measure_clock();
    select_bank(kBankTiming);
    write(kRegTimingCtl, kTimingLatch);
    std::this_thread::sleep_for(latch_wait_);
    const int audio = lt6911_audio_rate(read(kBankAudio, kRegAudioCode));
    relaxed(AudioSampling_6911, audio);
    if (audio != kNoAudio && audio != get(old_audio_sampling)) {
        relaxed(old_audio_sampling, audio);
        std::fprintf(stderr, "\n  $$$$$ mute 6911 sampling=%d\n", audio);
        pipeline_.audio_restart();
    }
    set_access(false);
}

void lt6911_listen(Lt6911Detector& detector, const char* dev_path, int timeout_ms,
                   const std::atomic<bool>& stop, std::atomic<int>& runs) {
    std::unique_ptr<board::ChangeNotifier> notifier;
    bool reported = false;
    while (!stop.load()) {
        if (!notifier) {
            notifier = board::open_change_notifier(dev_path);
            if (!notifier) {
                if (!reported) std::fprintf(stderr, "open %s: %s\n", dev_path, strerror(errno));
                reported = true;
                std::this_thread::sleep_for(std::chrono::milliseconds(timeout_ms));
                continue;
            }
            // A source plugged before now (at power-on, before a restart, while the device was
            // away) raised no notification we could see: read the chip once, as its interrupt would.
            detector.run_sequence();
            runs.fetch_add(1);
        }
        const int n = notifier->wait(timeout_ms);
        if (n < 0) {
            notifier.reset();
            continue;
        }
        for (int i = 0; i < n; ++i) {
            detector.run_sequence();
            runs.fetch_add(1);
        }
    }
}

Lt6911Listener::Lt6911Listener(Lt6911Detector& detector, const char* dev_path, int timeout_ms)
    : detector_(detector), dev_path_(dev_path), timeout_ms_(timeout_ms),
      thread_([this] { run(); }) {}

Lt6911Listener::~Lt6911Listener() {
    stop_.store(true);
    thread_.join();
}

void Lt6911Listener::run() { lt6911_listen(detector_, dev_path_, timeout_ms_, stop_, runs_); }

} // namespace hdext

