// Register model of the TX's HDMI-to-MIPI receiver chip (7-bit address 0x2B). Banks are
// selected through register 0xFF; register access is opened with 0xEE = 1 in bank 0x80.
// Opening access re-reads the plugged source; the pixel clock is latched by writing 0x21 to
// bank 0xA0 register 0x34 and the timing by writing 0x11 to bank 0xD2 register 0x83, as on
// the chip. With no source every measured register reads 0, which matches no format.
#pragma once
#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "board/i2c.h"
#include "sim/devices/hdmi_source.h"

namespace hdext::sim {

inline constexpr uint8_t kLt6911Address = 0x2B;

class Lt6911Model final : public board::I2cDevice {
public:
    // `read_source` returns the current sim/hdmi-in text (empty when there is none).
    explicit Lt6911Model(std::function<std::string()> read_source);

    bool on_write(const uint8_t* buf, size_t n) override;
    bool on_read(uint8_t* buf, size_t n) override;

    // What the model saw, for tests: register access currently open, sequences opened.
    bool access_open() const { return open_; }
    int open_count() const { return opens_; }

private:
    uint8_t read_reg(uint8_t bank, uint8_t reg) const;
    void write_reg(uint8_t reg, uint8_t value);

    std::function<std::string()> read_source_;
    std::optional<HdmiSource> source_;
    uint8_t bank_ = 0;
    uint8_t pointer_ = 0;
    bool open_ = false;
    int opens_ = 0;
    uint32_t latched_clock_ = 0;
    std::optional<HdmiSource> latched_timing_;
    std::array<std::array<uint8_t, 256>, 256> plain_{}; // registers without a model
};

// A model reading `<board root>/sim/hdmi-in`.
std::shared_ptr<Lt6911Model> make_lt6911_model_for_board();

// Registers every simulated chip: the HDMI receiver on I2C bus 0 and the OLED controller. Called once at start-up of a
// simulated board, before the program's first transfer.
void install_board_devices();

} // namespace hdext::sim
