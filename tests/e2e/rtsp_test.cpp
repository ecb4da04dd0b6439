// The USB port of a real RX program in a simulated world: a laptop on the USB Ethernet adapter
// gets an address from the RX and finds its RTSP server; the build without re-streaming never
// opens it; a stick with a reset file resets the unit.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "support/world.h"

using hdext::test::capture_output;
using hdext::test::ChildProcess;
using hdext::test::read_file;
using hdext::test::wait_until;

namespace {

using namespace std::chrono_literals;

constexpr const char* kUrlLine = "Play this stream using the URL \"rtsp://192.168.0.1:8554/live\"";

int sh(const std::string& cmd) {
    int st = system(cmd.c_str());
    return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
}

size_t count(const std::string& text, const std::string& needle) {
    size_t n = 0;
    for (size_t p = text.find(needle); p != std::string::npos; p = text.find(needle, p + 1)) ++n;
    return n;
}

class UsbPort : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(geteuid(), 0u) << "this test needs root (a simulated world); run it as root";
        world = "rtsp" + std::to_string(getpid());
        ns = "hdx-" + world + "-rx1";
        laptop = ns + "-laptop";
        root = std::string("/var/tmp/hdext-worlds/") + world + "/rx1";
        ASSERT_EQ(board_cmd("world up " + world + " --rx 1 --owner " + std::to_string(getpid())), 0);
        up = true;
    }

    void TearDown() override {
        program.reset();
        if (!up) return;
        board_cmd("usb ethernet unplug rx1 --world " + world);
        board_cmd("world down " + world);
    }

    void start(const char* program_name) {
        const std::string wrapper = root + "/sim/start-unit";
        std::ofstream(wrapper) << "#!/bin/sh\nexec " << board_tool() << " world run " << world << " rx1 -- "
                               << hdext::test::build_dir() << "/src/" << program_name << "\n";
        chmod(wrapper.c_str(), 0755);
        program = std::make_unique<ChildProcess>(wrapper, std::vector<std::string>{}, root + "/sim/out.log");
        ASSERT_TRUE(program->wait_for_output("start-up: CreateReceiver")) << program->output();
    }

    static std::string board_tool() { return hdext::test::build_dir() + "/sim/board/hdext-board"; }
    int board_cmd(const std::string& args) { return sh(board_tool() + " " + args + " >/dev/null 2>&1"); }
    int usb(const std::string& args) { return board_cmd("usb " + args + " rx1 --world " + world); }
    std::string get(const std::string& board_path) const { return read_file(root + board_path); }
    bool exists(const std::string& board_path) const { return std::filesystem::exists(root + board_path); }

    // First line of the server's answer to OPTIONS, asked from the laptop.
    std::string options_from_laptop() {
        return capture_output("ip netns exec " + laptop +
                      " timeout 5 bash -c 'exec 3<>/dev/tcp/192.168.0.1/8554 && printf \"OPTIONS "
                      "rtsp://192.168.0.1:8554/live RTSP/1.0\\r\\nCSeq: 1\\r\\n\\r\\n\" >&3 && head -n1 <&3' "
                      "2>/dev/null");
    }
    bool laptop_addressed() { return get("/sim/laptop-address").rfind("192.168.0.", 0) == 0; }
    bool adapter_addressed() {
        return capture_output("ip -n " + ns + " -4 addr show eth1 2>/dev/null").find("192.168.0.1/") != std::string::npos;
    }

    std::string world, ns, laptop, root;
    bool up = false;
    std::unique_ptr<ChildProcess> program;
};

TEST_F(UsbPort, LaptopOnTheAdapterGetsAnAddressAndTheServerAndReplugRestartsOnlyDhcp) {
    start("hdext");
    ASSERT_EQ(usb("ethernet plug"), 0);
    ASSERT_TRUE(wait_until([&] { return laptop_addressed(); })) << program->output();
    ASSERT_TRUE(program->wait_for_output(kUrlLine)) << program->output();
    EXPECT_NE(program->output().find("\n\"live\" stream, from the file \"zvlive\"\n"), std::string::npos);
    EXPECT_EQ(options_from_laptop(), "RTSP/1.0 200 OK\r\n");
    EXPECT_TRUE(adapter_addressed());
    EXPECT_EQ(count(program->output(), "dhcpd eth1\n"), 1u);
    const std::string listening = capture_output("ip netns exec " + ns + " ss -Hltn sport = :8554");
    EXPECT_EQ(count(listening, "LISTEN"), 1u) << listening;
    EXPECT_NE(listening.find(" 192.168.0.1:8554 "), std::string::npos) << "on the adapter's address only: " << listening;

    ASSERT_EQ(usb("ethernet unplug"), 0);
    ASSERT_EQ(usb("ethernet plug"), 0);
    ASSERT_TRUE(wait_until([&] { return count(program->output(), "dhcpd eth1\n") == 2; })) << program->output();
    EXPECT_TRUE(wait_until([&] { return laptop_addressed(); }));
    EXPECT_TRUE(adapter_addressed()) << "the new adapter is addressed again";
    EXPECT_EQ(options_from_laptop(), "RTSP/1.0 200 OK\r\n");
    EXPECT_EQ(count(program->output(), "rtmp_init thread"), 1u) << "one server thread per process";
}

TEST_F(UsbPort, BuildWithoutRestreamNeverConfiguresTheAdapterNorOpensTheRtspPort) {
    start("hdext_nortsp");
    ASSERT_EQ(usb("ethernet plug"), 0);
    // Several rounds of the full build's 2-second check.
    std::this_thread::sleep_for(7s);
    EXPECT_FALSE(adapter_addressed());
    EXPECT_EQ(capture_output("ip netns exec " + ns + " ss -Hltn").find(":8554"), std::string::npos);
    EXPECT_EQ(options_from_laptop(), "");
    EXPECT_FALSE(laptop_addressed());
}

TEST_F(UsbPort, StickWithResetFileResetsTheUnitAfterItSettlesAndRemovalUnmounts) {
    start("hdext");
    using clock = std::chrono::steady_clock;
    ASSERT_EQ(usb("stick insert --reset"), 0);
    auto inserted = clock::now();
    ASSERT_TRUE(wait_until([&] { return get("/sim/commands.log").find("reboot -f") != std::string::npos; }))
        << get("/sim/commands.log") << program->output();
    EXPECT_GE(clock::now() - inserted, 4s) << "the stick settles for about 5 s before it is mounted";
    EXPECT_TRUE(exists("/mnt/reset.ini"));
    EXPECT_NE(get("/userdata/system.ini").find("pincode=0\n"), std::string::npos) << get("/userdata/system.ini");

    ASSERT_EQ(usb("stick remove"), 0);
    EXPECT_TRUE(wait_until([&] { return !exists("/mnt/reset.ini"); }));
    EXPECT_NE(get("/sim/commands.log").find("umount " + root + "/mnt/\n"), std::string::npos);
}

} // namespace
