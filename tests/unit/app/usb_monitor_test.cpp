// The USB monitors on a simulated board: the port's power line and flags follow the sense
// line's edges; a stick is mounted after it settles, unmounted when removed, and a reset file
// on it asks for a factory reset.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <thread>

#include "app/usb_monitor.h"
#include "board/shell.h"
#include "periph/app_status.h"
#include "periph/usb_state.h"
#include "support/board_root.h"

namespace {

using namespace std::chrono_literals;

bool eventually(const std::function<bool()>& pred) {
    for (int i = 0; i < 1000 && !pred(); ++i) std::this_thread::sleep_for(10ms);
    return pred();
}

std::atomic<int> g_resets{0};
int count_reset() { return ++g_resets; }

class UsbMonitors : public ::testing::Test {
protected:
    void SetUp() override {
        opt.stick_settle = 100ms;
        opt.factory_reset = count_reset;
        opt.stop = &stop;
        opt.poll_ms = 50;
        g_resets = 0;
        UsbEn = 0;
        RtmpEn = 0;
    }
    void TearDown() override {
        stop = true;
        if (worker.joinable()) worker.join();
        hdext::board::set_shell(nullptr);
    }
    // The world moves the sense line: a plain rewrite of the value file.
    void sense(int level) { std::ofstream(board.host("/sys/class/gpio/gpio26/value")) << level << "\n"; }
    void stick(int32_t state) {
        int fd = open(board.host("/dev/detected_usb").c_str(), O_WRONLY);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(write(fd, &state, sizeof state), 4);
        close(fd);
    }

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

TEST_F(UsbMonitors, StickIsMountedAfterSettlingAndAResetFileAsksForAFactoryReset) {
    auto shell = std::make_shared<hdext::board::RecordingShell>();
    hdext::board::set_shell(shell);
    std::filesystem::create_directories(board.host("/dev"));
    ASSERT_EQ(mkfifo(board.host("/dev/detected_usb").c_str(), 0600), 0);
    board.put("/mnt/reset.ini", "");
    worker = std::thread([this] { hdext::usb_stick_monitor(opt); });

    const std::string mount = "mount /dev/sda1 " + board.host("/mnt/");
    const std::string umount = "umount " + board.host("/mnt/");
    stick(1);
    ASSERT_TRUE(eventually([] { return app_status[5] == 1; }));
    EXPECT_EQ(shell->commands(), std::vector<std::string>{mount});
    EXPECT_TRUE(eventually([] { return g_resets == 1; }));

    stick(7); // unknown states are ignored
    stick(0);
    ASSERT_TRUE(eventually([] { return app_status[5] == 0; }));
    EXPECT_EQ(shell->commands(), (std::vector<std::string>{mount, umount}));

    std::filesystem::remove(board.host("/mnt/reset.ini"));
    stick(1);
    ASSERT_TRUE(eventually([&] { return shell->commands().size() == 3; }));
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(g_resets, 1) << "no reset file, no reset";
}

TEST_F(UsbMonitors, WithoutTheStateDeviceTheStickMonitorEnds) {
    EXPECT_EQ(hdext::usb_stick_monitor(opt), -1);
}

} // namespace
