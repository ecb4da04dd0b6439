#include "sim/devices/lt6911_model.h"

#include <fstream>

#include "board/board.h"
#include "sim/devices/oled_model.h"

namespace hdext::sim {
namespace {

constexpr uint8_t kRegBank = 0xFF;
constexpr uint8_t kBankAccess = 0x80, kRegAccess = 0xEE;
constexpr uint8_t kBankClockCtl = 0xA0, kRegClockCtl = 0x34, kClockMeasure = 0x21;
constexpr uint8_t kBankClock = 0xB8;
constexpr uint8_t kBankTiming = 0xD2, kRegTimingCtl = 0x83, kTimingLatch = 0x11;
constexpr uint8_t kBankAudio = 0xC0, kRegAudioCode = 0x18, kRegAudioState = 0x13;
constexpr uint8_t kNoAudioCode = 1;

uint8_t hi(uint32_t v) { return static_cast<uint8_t>(v >> 8); }
uint8_t lo(uint32_t v) { return static_cast<uint8_t>(v); }

} // namespace

Lt6911Model::Lt6911Model(std::function<std::string()> read_source)
    : read_source_(std::move(read_source)) {}

bool Lt6911Model::on_write(const uint8_t* buf, size_t n) {
    if (n == 0) return true;
    pointer_ = buf[0];
    for (size_t i = 1; i < n; ++i) write_reg(static_cast<uint8_t>(buf[0] + i - 1), buf[i]);
    return true;
}

bool Lt6911Model::on_read(uint8_t* buf, size_t n) {
    for (size_t i = 0; i < n; ++i) buf[i] = read_reg(bank_, pointer_++);
    return true;
}

void Lt6911Model::write_reg(uint8_t reg, uint8_t value) {
    if (reg == kRegBank) {
        bank_ = value;
        return;
    }
    plain_[bank_][reg] = value;
    if (bank_ == kBankAccess && reg == kRegAccess) {
        open_ = value == 1;
        if (open_) {
            ++opens_;
            source_ = parse_hdmi_source(read_source_());
        }
    } else if (open_ && bank_ == kBankClockCtl && reg == kRegClockCtl && value == kClockMeasure) {
        latched_clock_ = source_ ? source_->timing.pixel_clock_hz / 2000 : 0;
    } else if (open_ && bank_ == kBankTiming && reg == kRegTimingCtl && value == kTimingLatch) {
        latched_timing_ = source_;
    }
}

uint8_t Lt6911Model::read_reg(uint8_t bank, uint8_t reg) const {
    if (!open_) return 0;
    if (bank == kBankClock) {
        switch (reg) {
        case 0xB1: return static_cast<uint8_t>((latched_clock_ >> 16) & 0x0F);
        case 0xB2: return hi(latched_clock_);
        case 0xB3: return lo(latched_clock_);
        }
    }
    if (bank == kBankTiming) {
        const HdmiTiming t = latched_timing_ ? latched_timing_->timing : HdmiTiming{};
        switch (reg) {
        case 0x9E: return hi(t.v_total);
        case 0x9F: return lo(t.v_total);
        case 0x96: return hi(t.height);
        case 0x97: return lo(t.height);
        case 0x89: return hi(t.h_total / 2);
        case 0x8A: return lo(t.h_total / 2);
        case 0x8B: return hi(t.width / 2);
        case 0x8C: return lo(t.width / 2);
        }
    }
    if (bank == kBankAudio) {
        const int rate = source_ ? source_->audio_rate : 0;
        if (reg == kRegAudioCode) return rate ? iec60958_rate_code(rate) : kNoAudioCode;
        if (reg == kRegAudioState) return rate ? 1 : 0;
    }
    return plain_[bank][reg];
}

std::shared_ptr<Lt6911Model> make_lt6911_model_for_board() {
    const std::string file = board::path("/sim/hdmi-in");
    return std::make_shared<Lt6911Model>([file] {
        std::ifstream in(file);
        std::string line;
        std::getline(in, line);
        return line;
    });
}

void install_board_devices() {
    board::register_sim_i2c_device(0, kLt6911Address, make_lt6911_model_for_board());
    install_oled_model();
}

} // namespace hdext::sim
