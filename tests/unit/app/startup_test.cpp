#include <gtest/gtest.h>
#include <signal.h>

#include <atomic>
#include <filesystem>

#include "app/startup.h"
#include "board/gpio.h"
#include "support/board_root.h"

namespace {
std::atomic<int> g_seen{0};
void note(int sig) { g_seen = sig; }
} // namespace

TEST(InstallSignalHandler, InstallsCatchableSignalsAndRefusesKill) {
    EXPECT_EQ(install_signal_hanlder(SIGUSR2, note), 1);
    raise(SIGUSR2);
    EXPECT_EQ(g_seen.load(), SIGUSR2);
    struct sigaction sa {};
    sigaction(SIGUSR2, nullptr, &sa);
    EXPECT_EQ(sa.sa_flags & SA_RESTART, SA_RESTART) << "interrupted calls restart";
    EXPECT_EQ(install_signal_hanlder(SIGKILL, note), 0);
    signal(SIGUSR2, SIG_DFL);
}

TEST(SetGpio, TransmitterDrivesItsLedPairInOrder) {
    hdext::test::TempBoardRoot b;
    g_EquipmentModel = EQUIPMENT_MODEL_TX;
    EXPECT_EQ(set_gpio(), 0);
    EXPECT_EQ(b.get("/sim/gpio.log"),
              "/sys/class/gpio/export 0\n/sys/class/gpio/export 1\n"
              "/sys/class/gpio/gpio0/direction out\n/sys/class/gpio/gpio1/direction out\n"
              "/sys/class/gpio/gpio0/value 1\n/sys/class/gpio/gpio1/value 0\n");
    EXPECT_EQ(hdext::board::gpio::get_value(0), 1);
    EXPECT_EQ(hdext::board::gpio::get_value(1), 0);
}

// The last write failing (a line faked unwritable inside a board root) is returned.
TEST(SetGpio, ReceiverPulsesLine104AndLeavesLine103AnInput) {
    g_EquipmentModel = EQUIPMENT_MODEL_RX;
    {
        hdext::test::TempBoardRoot b;
        EXPECT_EQ(set_gpio(), 0);
        std::string log = b.get("/sim/gpio.log");
        const size_t low = log.find("/sys/class/gpio/gpio104/value 0\n");
        ASSERT_NE(low, std::string::npos);
        EXPECT_LT(low, log.find("/sys/class/gpio/gpio104/value 1\n"));
        EXPECT_EQ(b.get("/sys/class/gpio/gpio103/direction"), "in\n");
        EXPECT_EQ(hdext::board::gpio::get_value(95), 0);
    }
    hdext::test::TempBoardRoot b;
    std::filesystem::create_directories(b.host("/sys/class/gpio/gpio103/direction"));
    EXPECT_EQ(set_gpio(), -1);
    EXPECT_EQ(hdext::board::gpio::get_value(96), 1) << "the lines before it were set up";
}
