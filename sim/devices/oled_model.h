// Model of the unit's 128x64 OLED controller (7-bit address 0x3C, 132-column memory in 8
// pages). It executes the command and data transfers the driver sends and, after each burst
// of changes (at most a few times a second), writes what the panel shows to
// <root>/sim/oled.png (scaled up) and <root>/sim/oled.pbm. A board root holding the file
// sim/no-oled has no display fitted: nothing answers at 0x3C.
#pragma once
#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "board/i2c.h"

namespace hdext::sim {

inline constexpr uint8_t kOledModelAddress = 0x3C;
inline constexpr int kOledWidth = 128, kOledHeight = 64, kOledMemColumns = 132;

// Visible pixels, row-major, 1 = lit.
using OledPixels = std::vector<uint8_t>;

class OledModel final : public board::I2cDevice {
public:
    // out_dir: host directory for oled.png / oled.pbm; empty = write no files.
    explicit OledModel(std::string out_dir,
                       std::chrono::milliseconds quiet = std::chrono::milliseconds(100));
    ~OledModel() override;

    bool on_write(const uint8_t* buf, size_t n) override;
    bool on_read(uint8_t* buf, size_t n) override;

    // What the panel shows now (all dark while the display is off).
    OledPixels pixels() const;
    // Returns once the files hold the current picture (or a newer one), writing it if need be.
    void flush();
    // Counters since creation: write transfers, data bytes received.
    uint64_t transfers() const;
    uint64_t data_bytes() const;
    uint64_t bytes() const;  // every byte written, control bytes included
    bool display_on() const;
    int contrast() const;

private:
    void command(uint8_t c);
    void writer_loop();
    OledPixels render_locked() const;
    // Writes the picture of change count `gen` unless a newer one is already on disk: the
    // writer thread and flush() may write at once, and the older picture must not land last.
    void write_files(const OledPixels& px, uint64_t gen);

    mutable std::mutex mu_;
    std::condition_variable cv_;
    std::array<std::array<uint8_t, kOledMemColumns>, 8> mem_{};
    int page_ = 0, column_ = 0;
    uint8_t pending_ = 0;  // command waiting for argument bytes
    int args_left_ = 0;
    bool on_ = false, inverse_ = false, all_on_ = false;
    int contrast_ = 0x7F;
    uint64_t transfers_ = 0, data_bytes_ = 0, bytes_ = 0;
    uint64_t changes_ = 0, written_ = 0;
    std::chrono::steady_clock::time_point last_change_{}, last_write_{};
    std::string out_dir_;
    std::chrono::milliseconds quiet_;
    bool stop_ = false;
    std::thread writer_;
    std::mutex file_mu_;
    uint64_t on_disk_ = 0;  // change count of the picture in the files (guarded by file_mu_)
};

// Writes pixels as a PBM (P1) and a scaled PNG. false when a file cannot be written.
bool write_oled_files(const OledPixels& px, const std::string& dir);
// Reads a P1 or P4 PBM of 128x64 written by the model. false when missing or malformed.
bool read_oled_pbm(const std::string& file, OledPixels* px);
// The picture as text art: two pixel rows per line with half-block characters.
std::string oled_text_art(const OledPixels& px);

// Registers the OLED model of a simulated board on buses 0 and 1 (the unit uses one of them,
// by role) unless the root declares no display fitted.
void install_oled_model();

} // namespace hdext::sim
