// Front-panel figures, measured in the same run against a baseline:
//  - a full home-screen redraw through the OLED driver (I2C transfers, bytes, microseconds and
//    the bus time those bytes take at 400 kHz) against a naive redraw of a whole 1 KiB frame
//    buffer written one data byte per transfer, page by page.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <memory>

#include "board/board.h"
#include "board/i2c.h"
#include "board/shell.h"
#include "periph/app_status.h"
#include "settings/param_config.h"
#include "sim/devices/oled_model.h"
#include "ui/oled.h"
#include "ui/osd_manager.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Bus {
    uint64_t transfers, bytes;
};

struct Board {
    Board() {
        char tmpl[] = "/tmp/hdext-bench-ui-XXXXXX";
        dir = mkdtemp(tmpl);
        setenv("HDEXT_BOARD_ROOT", dir.c_str(), 1);
        hdext::board::reload_root();
        oled = std::make_shared<hdext::sim::OledModel>("");
        hdext::board::register_sim_i2c_device(0, hdext::sim::kOledModelAddress, oled);
        auto shell = std::make_shared<hdext::board::RecordingShell>();
        shell->reply("i2cget", "0x32\n");
        hdext::board::set_shell(shell);
        app_status_init(nullptr);
        app_status[2] = 23;
        app_status[4] = 1;
        app_status[5] = 1;
        app_status[7] = 3;
        app_status[14] = 0;
        app_status[31] = app_status[33] = 149;
        ABS_WIFI_AP_CONFIG_t ap{};
        std::strcpy(ap.ssid, "QUENDOR_0A1B2C");
        CParamConfig::Instance()->set_wifi_ap_info(&ap);
        hdext::ui::oled_use_bus(0);
        init_i2c(0);
    }
    ~Board() {
        hdext::board::set_shell(nullptr);
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }
    Bus bus() const { return {oled->transfers(), oled->bytes()}; }
    std::string dir;
    std::shared_ptr<hdext::sim::OledModel> oled;
};

// A frame buffer redraw the simple way: every byte of 8 pages x 128 columns, one per transfer.
void naive_redraw(const uint8_t (&fb)[8][128]) {
    for (int page = 0; page < 8; ++page) {
        oled_write_cmd(static_cast<unsigned char>(0xB0 + page));
        oled_write_cmd(0x00);
        oled_write_cmd(0x10);
        for (int x = 0; x < 128; ++x) oled_write_data(fb[page][x]);
    }
}

// Bus time of a write at 400 kHz: 9 bits per byte (address byte included) plus start and stop.
double bus_us(uint64_t transfers, uint64_t bytes) {
    return (static_cast<double>(bytes + transfers) * 9.0 + static_cast<double>(transfers) * 2.0) * 2.5;
}

void BM_HomeScreenRedrawVsNaiveFrameBuffer(benchmark::State& state) {
    static Board board;
    uint8_t fb[8][128];
    std::memset(fb, 0x5A, sizeof fb);
    double home_s = 0, naive_s = 0;
    uint64_t home_tr = 0, home_b = 0, naive_tr = 0, naive_b = 0;
    for (auto _ : state) {
        const Bus b0 = board.bus();
        const auto t0 = Clock::now();
        hdext::ui::draw_home_screen();
        const auto t1 = Clock::now();
        const Bus b1 = board.bus();
        naive_redraw(fb);
        const auto t2 = Clock::now();
        const Bus b2 = board.bus();
        home_s += std::chrono::duration<double>(t1 - t0).count();
        naive_s += std::chrono::duration<double>(t2 - t1).count();
        home_tr += b1.transfers - b0.transfers;
        home_b += b1.bytes - b0.bytes;
        naive_tr += b2.transfers - b1.transfers;
        naive_b += b2.bytes - b1.bytes;
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["home_transfers"] = static_cast<double>(home_tr) / n;
    state.counters["naive_transfers"] = static_cast<double>(naive_tr) / n;
    state.counters["transfers_ratio"] = static_cast<double>(home_tr) / static_cast<double>(naive_tr);
    state.counters["home_bytes"] = static_cast<double>(home_b) / n;
    state.counters["naive_bytes"] = static_cast<double>(naive_b) / n;
    state.counters["home_us"] = home_s * 1e6 / n;
    state.counters["naive_us"] = naive_s * 1e6 / n;
    state.counters["time_ratio"] = home_s / naive_s;
    state.counters["home_bus_us_400k"] = bus_us(home_tr, home_b) / n;
    state.counters["naive_bus_us_400k"] = bus_us(naive_tr, naive_b) / n;
}
BENCHMARK(BM_HomeScreenRedrawVsNaiveFrameBuffer)->MinTime(1.0);

} // namespace

BENCHMARK_MAIN();
