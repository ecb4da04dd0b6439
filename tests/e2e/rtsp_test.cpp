// The USB port of a real RX program in a simulated world: a laptop on the USB Ethernet adapter
// gets an address from the RX and finds its RTSP server; the build without re-streaming never
// opens it; a stick with a reset file resets the unit.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "support/world.h"

using hdext::test::count_lines;

namespace {

using namespace std::chrono_literals;

constexpr const char* kUrlLine = "Play this stream using the URL \"rtsp://192.168.0.1:8554/live\"";

class UsbPort : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(world.up("rtsp" + std::to_string(getpid()), 1), "");
        ns = "hdx-" + world.name + "-rx1";
        laptop = ns + "-laptop";
        root = world.dir + "/rx1";
    }
    void TearDown() override { EXPECT_TRUE(world.down()) << "something of the world was left behind"; }

    void start(const char* program_name) {
        ASSERT_TRUE(world.start("rx1", std::string("src/") + program_name));
        ASSERT_TRUE(wait([&] { return output().find("start-up: CreateReceiver") != std::string::npos; })) << output();
    }
    template <class P>
    static bool wait(P pred) {
        return hdext::test::wait_until(pred, 60s, 100ms);
    }
    std::string output() const { return world.log("rx1"); }
    int usb(const std::string& args) {
        int st = -1;
        world.cmd("usb " + args + " rx1 --world " + world.name, &st);
        return st;
    }
    std::string get(const std::string& board_path) const { return hdext::test::read_file(root + board_path); }
    bool exists(const std::string& board_path) const { return std::filesystem::exists(root + board_path); }
    static std::string sh(const std::string& cmd) { return hdext::test::capture_output(cmd); }

    // First line of the server's answer to OPTIONS, asked from the laptop.
    std::string options_from_laptop() {
        return sh("ip netns exec " + laptop +
                  " timeout 5 bash -c 'exec 3<>/dev/tcp/192.168.0.1/8554 && printf \"OPTIONS "
                  "rtsp://192.168.0.1:8554/live RTSP/1.0\\r\\nCSeq: 1\\r\\n\\r\\n\" >&3 && head -n1 <&3' "
                  "2>/dev/null");
    }
    bool laptop_addressed() { return get("/sim/laptop-address").rfind("192.168.0.", 0) == 0; }
    bool adapter_addressed() {
        return sh("ip -n " + ns + " -4 addr show eth1 2>/dev/null").find("192.168.0.1/") != std::string::npos;
    }

    hdext::test::World world;
    std::string ns, laptop, root;
};

// A replug ends the DHCP server of the first plug before it starts the next one.
TEST_F(UsbPort, LaptopOnTheAdapterGetsAnAddressAndTheServerAndReplugRestartsOnlyDhcp) {
    start("hdext");
    ASSERT_EQ(usb("ethernet plug"), 0);
    ASSERT_TRUE(wait([&] { return laptop_addressed(); })) << output();
    ASSERT_TRUE(wait([&] { return output().find(kUrlLine) != std::string::npos; })) << output();
    EXPECT_NE(output().find("\n\"live\" stream, from the file \"zvlive\"\n"), std::string::npos);
    EXPECT_EQ(options_from_laptop(), "RTSP/1.0 200 OK\r\n");
    EXPECT_TRUE(adapter_addressed());
    EXPECT_EQ(count_lines(output(), "dhcpd eth1"), 1u);
    const std::string listening = sh("ip netns exec " + ns + " ss -Hltn sport = :8554");
    EXPECT_EQ(count_lines(listening, "LISTEN"), 1u) << listening;
    EXPECT_NE(listening.find(" 192.168.0.1:8554 "), std::string::npos) << "on the adapter's address only: " << listening;

    ASSERT_EQ(usb("ethernet unplug"), 0);
    ASSERT_EQ(usb("ethernet plug"), 0);
    ASSERT_TRUE(wait([&] { return count_lines(output(), "dhcpd eth1") == 2; })) << output();
    EXPECT_TRUE(wait([&] { return count_lines(world.ps("rx1"), "udhcpd-eth1") == 1; })) << world.ps("rx1");
    EXPECT_TRUE(wait([&] { return laptop_addressed(); }));
    EXPECT_TRUE(adapter_addressed()) << "the new adapter is addressed again";
    EXPECT_EQ(options_from_laptop(), "RTSP/1.0 200 OK\r\n");
    EXPECT_EQ(count_lines(output(), "rtmp_init thread"), 1u) << "one server thread per process";
}

TEST_F(UsbPort, BuildWithoutRestreamNeverConfiguresTheAdapterNorOpensTheRtspPort) {
    start("hdext_nortsp");
    ASSERT_EQ(usb("ethernet plug"), 0);
    // Several rounds of the full build's 2-second check.
    std::this_thread::sleep_for(7s);
    EXPECT_FALSE(adapter_addressed());
    EXPECT_EQ(sh("ip netns exec " + ns + " ss -Hltn").find(":8554"), std::string::npos);
    EXPECT_EQ(options_from_laptop(), "");
    EXPECT_FALSE(laptop_addressed());
}

TEST_F(UsbPort, StickWithResetFileResetsTheUnitAfterItSettlesAndRemovalUnmounts) {
    start("hdext");
    using clock = std::chrono::steady_clock;
    ASSERT_EQ(usb("stick insert --reset"), 0);
    auto inserted = clock::now();
    ASSERT_TRUE(wait([&] { return get("/sim/commands.log").find("reboot -f") != std::string::npos; }))
        << get("/sim/commands.log") << output();
    EXPECT_GE(clock::now() - inserted, 4s) << "the stick settles for about 5 s before it is mounted";
    EXPECT_TRUE(exists("/mnt/reset.ini"));
    EXPECT_NE(get("/userdata/system.ini").find("pincode=0\n"), std::string::npos) << get("/userdata/system.ini");

    ASSERT_EQ(usb("stick remove"), 0);
    EXPECT_TRUE(wait([&] { return !exists("/mnt/reset.ini"); }));
    EXPECT_NE(get("/sim/commands.log").find("umount " + root + "/mnt/\n"), std::string::npos);
}

} // namespace
