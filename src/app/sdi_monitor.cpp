#include "app/sdi_monitor.h"

#include <cstdio>

#include "periph/app_status.h"
#include "periph/input_state.h"

std::atomic<int> old_sdi_sync{-1};

namespace hdext {

const SdiFormat sdi_size[22] = {
    {0x2B, 1920, 1080, 60, 1, 23}, {0x2D, 1920, 1080, 50, 1, 22}, {0x2A, 1920, 1080, 60, 0, 21},
    {0x2C, 1920, 1080, 50, 0, 20}, {0x20, 1280, 720, 60, 1, 10},  {0x24, 1280, 720, 50, 1, 9},
    {0x2E, 1920, 1080, 30, 1, 19}, {0x2F, 1920, 1080, 25, 1, 18}, {0x30, 1920, 1080, 24, 1, 17},
    {0x14, 1920, 1080, 50, 1, 22}, {0x0A, 1920, 1080, 60, 0, 21}, {0x0C, 1920, 1080, 50, 0, 20},
    {0x0B, 1920, 1080, 30, 1, 19}, {0x0D, 1920, 1080, 25, 1, 18}, {0x10, 1920, 1080, 24, 1, 17},
    {0x0E, 1920, 1080, 25, 1, 18}, {0x0F, 1920, 1080, 50, 0, 20}, {0x12, 1920, 1080, 24, 1, 17},
    {0x04, 1280, 720, 50, 1, 9},   {0x05, 1280, 720, 50, 1, 9},   {0x00, 1280, 720, 60, 1, 10},
    {0x01, 1280, 720, 60, 1, 10},
};

const SdiFormat* find_sdi_format(uint32_t code) {
    for (const auto& f : sdi_size)
        if (f.code == code) return &f;
    return nullptr;
}

namespace {

constexpr int kNoSync = 49;
constexpr int kNoAudio = 96001;
constexpr int kSdiAudioRate = 48000;
constexpr int kStatusInputSync = 2;

int get(const std::atomic<int>& v) { return v.load(std::memory_order_relaxed); }
void set(std::atomic<int>& v, int x) { v.store(x, std::memory_order_relaxed); }
void show_sync(int sync) {
    app_status[kStatusInputSync].store(static_cast<uint8_t>(sync), std::memory_order_relaxed);
}

void print_sdi_line(const char* scan_name) {
    std::fprintf(stderr, "\n $$$$$ 3471 w=%d,h=%d,frame=%d,%s=%d \n", get(MaxW_3471_ATT),
                 get(MaxH_3471_ATT), get(FrameRate_3471), scan_name, get(SCAN_MODE_3471));
}

} // namespace

SdiDetector::SdiDetector(CapturePipeline& pipeline, std::function<bool(uint32_t*)> query)
    : pipeline_(pipeline), query_(std::move(query)) {}

std::chrono::milliseconds SdiDetector::poll() {
    uint32_t word = 0;
    const uint32_t code = query_(&word) ? word >> 8 : kSdiNoSignal;
    const SdiFormat* f = code == kSdiNoSignal ? nullptr : find_sdi_format(code);
    if (!f) return lost();
    found(*f);
    loss_ = 0;
    return kSdiCycle;
}

std::chrono::milliseconds SdiDetector::lost() {
    if (get(vi_mode) != 1) {
        set(old_sdi_sync, -1);
        return kSdiCycle;
    }
    if (++loss_ < kSdiLossReadings) return kSdiDebounceCycle;

    set(vi_mode, 0);
    set(old_sdi_sync, -1);
    set(VO_SYNC_3471_ATT, kNoSync);
    show_sync(kNoSync);
    std::fputs("\n $$$$$ CLOSE 3471 \n", stderr);
    pipeline_.sdi_turn_off_video();
    pipeline_.sdi_turn_off_audio();
    if (get(VO_SYNC_6911_ATT) != kNoSync) {
        // The audio pacing must take the HDMI frame rate again, as on every input change.
        Frame_en.store(1, std::memory_order_relaxed);
        show_sync(get(VO_SYNC_6911_ATT));
        set(vi_mode, 2);
        std::fprintf(stderr, "\n $$$$$ 6911 w=%d,h=%d,frame=%d,SCAN_MODE_6911=%d \n",
                     get(MaxW_6911_ATT), get(MaxH_6911_ATT), get(FrameRate_6911),
                     get(SCAN_MODE_6911));
        pipeline_.hdmi_turn_on_video();
        if (get(AudioSampling_6911) != kNoAudio) {
            std::fprintf(stderr, "\n $$$$$ 3471 sampling=%d\n", get(AudioSampling_6911));
            pipeline_.hdmi_turn_on_audio();
        }
    }
    loss_ = 0;
    return kSdiCycle;
}

void SdiDetector::found(const SdiFormat& f) {
    set(MaxW_3471_ATT, f.width);
    set(MaxH_3471_ATT, f.height);
    set(FrameRate_3471, f.rate);
    set(VO_SYNC_3471_ATT, f.sync);
    set(VO_SYNC_ATT, f.sync);
    set(SCAN_MODE_3471, f.scan);
    set(AudioSampling_3471, kSdiAudioRate);
    const int code = static_cast<int>(f.code);

    switch (get(vi_mode)) {
    case 1:
        if (code != get(old_sdi_sync)) {
            Frame_en.store(1, std::memory_order_relaxed);
            show_sync(f.sync);
            set(old_sdi_sync, code);
            print_sdi_line("SCAN_MODE_6911");
            pipeline_.sdi_turn_off_video();
            pipeline_.sdi_turn_on_video();
        }
        break;
    case 2:
        Frame_en.store(1, std::memory_order_relaxed);
        show_sync(f.sync);
        set(vi_mode, 1);
        set(old_sdi_sync, code);
        print_sdi_line("SCAN_MODE_3471");
        pipeline_.hdmi_turn_off_video();
        pipeline_.sdi_turn_on_video();
        pipeline_.audio_sdi_form_hdmi();
        break;
    default:
        set(vi_mode, 1);
        Frame_en.store(1, std::memory_order_relaxed);
        if (init_videc.exchange(0, std::memory_order_relaxed)) {
            show_sync(f.sync);
            set(old_sdi_sync, code);
            std::fputs("\n\n 3471 strat VENC \n\n", stderr);
            print_sdi_line("SCAN_MODE_6911");
            pipeline_.start_video(INPUTER_SDI);
        }
        if (init_audio.exchange(0, std::memory_order_relaxed)) {
            std::fputs("\n\n  3471 strat AENC \n\n", stderr);
            pipeline_.start_audio(INPUTER_SDI);
        }
        if (code != get(old_sdi_sync)) {
            show_sync(f.sync);
            set(old_sdi_sync, code);
            print_sdi_line("SCAN_MODE_6911");
            pipeline_.sdi_turn_on_video();
            pipeline_.sdi_turn_on_audio();
        }
        break;
    }
}

} // namespace hdext
