#include <gtest/gtest.h>

#include "board/gpio.h"
#include "support/board_root.h"

namespace gpio = hdext::board::gpio;

TEST(BoardGpio, ExportCreatesLineFilesAndLogsWritesInOrder) {
    hdext::test::TempBoardRoot b;
    EXPECT_FALSE(gpio::exported(62));
    EXPECT_EQ(gpio::export_line(62), 0);
    EXPECT_TRUE(gpio::exported(62));
    EXPECT_EQ(b.get("/sys/class/gpio/gpio62/direction"), "in\n");
    EXPECT_EQ(gpio::get_value(62), 0);

    EXPECT_EQ(gpio::set_direction(62, "out"), 0);
    EXPECT_EQ(gpio::set_value(62, 1), 0);
    EXPECT_EQ(gpio::set_value(62, 0), 0);
    EXPECT_EQ(gpio::set_edge(62, "both"), 0);
    EXPECT_EQ(b.get("/sys/class/gpio/gpio62/direction"), "out\n");
    EXPECT_EQ(b.get("/sys/class/gpio/gpio62/value"), "0\n");
    EXPECT_EQ(b.get("/sys/class/gpio/gpio62/edge"), "both\n");
    EXPECT_EQ(b.get("/sim/gpio.log"),
              "/sys/class/gpio/export 62\n"
              "/sys/class/gpio/gpio62/direction out\n"
              "/sys/class/gpio/gpio62/value 1\n"
              "/sys/class/gpio/gpio62/value 0\n"
              "/sys/class/gpio/gpio62/edge both\n");
}

TEST(BoardGpio, ValueReadFollowsTheFileAndSurvivesAReExport) {
    hdext::test::TempBoardRoot b;
    EXPECT_EQ(gpio::get_value(26), -1) << "a line that was never exported has no value";
    gpio::export_line(26);
    b.put("/sys/class/gpio/gpio26/value", "1\n");
    EXPECT_EQ(gpio::get_value(26), 1);
    gpio::export_line(26);
    EXPECT_EQ(gpio::get_value(26), 1);
    b.put("/sys/class/gpio/gpio26/value", "x");
    EXPECT_EQ(gpio::get_value(26), -1);
}

TEST(BoardFiles, ProcKnobIsWrittenUnderTheRoot) {
    hdext::test::TempBoardRoot b;
    EXPECT_EQ(hdext::board::write_file("/proc/sys/net/ipv4/tcp_low_latency", "1"), 0);
    EXPECT_EQ(b.get("/proc/sys/net/ipv4/tcp_low_latency"), "1\n");
}

TEST(BoardMac, ReadsSysfsAddressAndRejectsMalformedOnes) {
    hdext::test::TempBoardRoot b;
    unsigned char mac[6] = {};
    EXPECT_FALSE(hdext::board::read_mac("wlan0", mac));
    b.put("/sys/class/net/wlan0/address", "02:00:5e:0a:1b:2c\n");
    ASSERT_TRUE(hdext::board::read_mac("wlan0", mac));
    const unsigned char want[6] = {0x02, 0x00, 0x5e, 0x0a, 0x1b, 0x2c};
    EXPECT_EQ(0, memcmp(mac, want, 6));
    for (const char* bad : {"02:00:5e\n", ""}) {
        b.put("/sys/class/net/wlan0/address", bad);
        EXPECT_FALSE(hdext::board::read_mac("wlan0", mac)) << bad;
    }
}
