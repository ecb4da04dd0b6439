#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "board/gpio.h"
#include "board/role.h"
#include "board/shell.h"
#include "periph/app_actions.h"
#include "periph/app_status.h"
#include "periph/app_timer.h"
#include "periph/battery.h"
#include "support/board_root.h"
#include "support/wait.h"

namespace hdext::test {
namespace {

class BatteryTest : public ::testing::Test {
protected:
    void SetUp() override {
        app_status_init(nullptr);
        app_status[0] = 0;  // TX: gauge on bus 0, LEDs on GPIO 0/1
        shell = std::make_shared<hdext::board::RecordingShell>();
        hdext::board::set_shell(shell);
        app_battery_low_power_gpio_handler(1);
        reading(12900);
        app_battery_low_power_gpio_handler(0);  // clears an alert left by another test
        app_battery_low_power_gpio_handler(1);
    }
    void TearDown() override { hdext::board::set_shell(nullptr); }
    void reading(int r) {
        char hi[16], lo[16];
        std::snprintf(hi, sizeof hi, "0x%02x\n", (r >> 8) & 0xFF);
        std::snprintf(lo, sizeof lo, "0x%02x\n", r & 0xFF);
        shell->reply("i2cget -f -y 0 0x64 0x02", hi);
        shell->reply("i2cget -f -y 0 0x64 0x03", lo);
    }
    int measure(int r) {
        reading(r);
        return app_battery_low_power_gpio_handler(0);
    }
    TempBoardRoot root;
    std::shared_ptr<hdext::board::RecordingShell> shell;
};

TEST_F(BatteryTest, ReadingsGiveTheTableLevels) {
    for (auto [r, level] : {std::pair{0x3201, 5}, {0x3200, 4}, {11801, 1}, {11800, 0}, {0x2AF8, 6}}) {
        app_battery_low_power_gpio_handler(1);
        EXPECT_EQ(measure(r), level) << r;
    }
    EXPECT_EQ(app_battery_low_power_gpio_handler(1), -1);
}

TEST_F(BatteryTest, FilterHidesRisesAndWaitsForALastingDrop) {
    EXPECT_EQ(measure(12000), 1);
    EXPECT_EQ(measure(12700), 1);  // a rise is not shown and leaves the history alone
    for (int i = 0; i < 5; ++i) EXPECT_EQ(measure(11700), 1) << "call " << i + 1;
    EXPECT_EQ(measure(11700), 0);
    EXPECT_EQ(measure(11703), 0);  // small changes are taken at once
    app_battery_low_power_gpio_handler(1);
    EXPECT_EQ(measure(12900), 5);  // no history after a reset
}

TEST_F(BatteryTest, AlertLedsSwitchOnceEachWay) {
    const std::string log = "/sim/gpio.log";
    root.put(log, "");
    measure(1);
    measure(0);
    EXPECT_EQ(root.get(log), "/sys/class/gpio/gpio0/value 0\n/sys/class/gpio/gpio1/value 1\n");
    measure(12000);
    measure(12001);
    EXPECT_EQ(root.get(log), "/sys/class/gpio/gpio0/value 0\n/sys/class/gpio/gpio1/value 1\n"
                             "/sys/class/gpio/gpio0/value 1\n/sys/class/gpio/gpio1/value 0\n");
}

TEST(WifiLevel, QualityNumbersMapToLevels) {
    auto shell = std::make_shared<hdext::board::RecordingShell>();
    hdext::board::set_shell(shell);
    for (auto [text, level] : {std::pair{"40", 5}, {"41", 4}, {"81", 1}, {"", 1}}) {
        shell->reply("iwconfig wlan0", std::string(text) + "\n");
        uint8_t out = 0;
        EXPECT_EQ(app_get_wifi_signal_level(0, &out), 0);
        EXPECT_EQ(out, level) << text;
    }
    hdext::board::set_shell(nullptr);
}

// A TX waits for edges of the DC line: one edge is one wake-up, and the level it brought is seen.
TEST(DcDetection, OneEdgeWakesTheTransmitterOnce) {
    TempBoardRoot root;
    app_status_init(nullptr);
    app_status[0] = 0;
    dc_detection_level_state = -1;
    const unsigned long before = hdext::board::gpio::edge_wakeups();
    std::atomic<bool> stop{false};
    std::thread t([&] { hdext::periph::dc_detection(&stop); });
    EXPECT_TRUE(eventually([] { return dc_detection_level_state.load() == 0; }));
    hdext::board::gpio::set_value(2, 1);
    EXPECT_TRUE(eventually([] { return dc_detection_level_state.load() == 1; }));
    // A window in which a waiter that never consumes the edge would wake thousands of times.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    stop = true;
    t.join();
    EXPECT_LE(hdext::board::gpio::edge_wakeups() - before, 2u);
}

std::atomic<int> g_setup{0}, g_ticks{0}, g_teardown{0}, g_other{0};
void handler(int sig) {
    if (sig == 1) ++g_setup;
    else if (sig == 2) ++g_teardown;
    else if (sig == 10) ++g_ticks;
    else ++g_other;
}

TEST(AppTimer, HalfSecondTimerCallsSetUpThenTicksThenTearDown) {
    EXPECT_EQ(app_timer_register(500, nullptr), -1);
    ASSERT_EQ(app_timer_register(500, handler), 0);
    EXPECT_EQ(g_setup.load(), 1);
    std::this_thread::sleep_for(std::chrono::milliseconds(1300));
    ASSERT_EQ(app_timer_unregister(0, handler), 0);
    const int ticks = g_ticks.load();
    EXPECT_GE(ticks, 1);
    EXPECT_LE(ticks, 3);
    EXPECT_EQ(g_teardown.load(), 1);
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
    EXPECT_EQ(g_ticks.load(), ticks) << "a stopped timer still ticks";
    EXPECT_EQ(g_other.load(), 0);
}

} // namespace
} // namespace hdext::test
