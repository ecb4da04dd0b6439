// The USB monitors on a simulated board: the port's power line and flags follow the sense
// line's edges. (The stick monitor runs in the program end to end: tests/e2e.)
#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <thread>

#include "app/usb_monitor.h"
#include "periph/usb_state.h"
#include "support/board_root.h"
#include "support/wait.h"

namespace {

using hdext::test::eventually;

class UsbMonitors : public ::testing::Test {
protected:
    void SetUp() override {
        opt.stop = &stop;
        opt.poll_ms = 50;
        UsbEn = 0;
        RtmpEn = 0;
    }
    void TearDown() override {
        stop = true;
        if (worker.joinable()) worker.join();
    }
    // The world moves the sense line: a plain rewrite of the value file.
    void sense(int level) { std::ofstream(board.host("/sys/class/gpio/gpio26/value")) << level << "\n"; }

    hdext::test::TempBoardRoot board;
    hdext::UsbMonitorOptions opt;
    std::atomic<bool> stop{false};
    std::thread worker;
};

TEST_F(UsbMonitors, PortPowerFollowsTheSenseLineAndUnplugStopsTheRestream) {
    worker = std::thread([this] { hdext::usb_port_monitor(opt); });
    ASSERT_TRUE(eventually([] { return UsbEn == 1; })) << "a fresh line reads 0: device present";
    EXPECT_EQ(board.get("/sim/gpio.log"),
              "/sys/class/gpio/export 25\n/sys/class/gpio/gpio25/direction out\n/sys/class/gpio/gpio25/value 0\n"
              "/sys/class/gpio/export 26\n/sys/class/gpio/gpio26/direction in\n/sys/class/gpio/gpio26/edge both\n"
              "/sys/class/gpio/gpio25/value 1\n");
    RtmpEn = 1;
    sense(1);
    ASSERT_TRUE(eventually([] { return UsbEn == 0; }));
    EXPECT_EQ(RtmpEn, 0);
    EXPECT_EQ(board.get("/sys/class/gpio/gpio25/value"), "0\n");
    sense(0);
    ASSERT_TRUE(eventually([] { return UsbEn == 1; }));
    EXPECT_EQ(board.get("/sys/class/gpio/gpio25/value"), "1\n");
    EXPECT_EQ(RtmpEn, 0) << "the check thread, not the monitor, turns the re-stream on";
}

TEST_F(UsbMonitors, WithoutTheStateDeviceTheStickMonitorEnds) {
    EXPECT_EQ(hdext::usb_stick_monitor(opt), -1);
}

} // namespace
