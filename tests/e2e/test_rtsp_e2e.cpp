// The USB port of a real RX program on a simulated board: a laptop on the USB Ethernet adapter
// (own network namespaces) gets an address from the RX and finds its RTSP server; the build
// without re-streaming never opens it; a stick with a reset file resets the unit.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "support/board_root.h"
#include "support/child_process.h"

using hdext::test::ChildProcess;

namespace {

using namespace std::chrono_literals;

constexpr const char* kUrlLine = "Play this stream using the URL \"rtsp://192.168.0.1:8554/live\"";

int sh(const std::string& cmd) {
    int st = system(cmd.c_str());
    return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
}

std::string sh_out(const std::string& cmd) {
    std::string out;
    FILE* p = popen(cmd.c_str(), "r");
    if (!p) return out;
    char buf[512];
    while (fgets(buf, sizeof buf, p)) out += buf;
    pclose(p);
    return out;
}

bool eventually(const std::function<bool()>& pred, int guard_s = 60) {
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(guard_s);
    while (std::chrono::steady_clock::now() < end) {
        if (pred()) return true;
        std::this_thread::sleep_for(100ms);
    }
    return pred();
}

size_t count(const std::string& text, const std::string& needle) {
    size_t n = 0;
    for (size_t p = text.find(needle); p != std::string::npos; p = text.find(needle, p + 1)) ++n;
    return n;
}

void script(const std::string& path, const std::string& body) {
    FILE* f = fopen(path.c_str(), "w");
    ASSERT_NE(f, nullptr);
    fprintf(f, "#!/bin/sh\nroot=\"${HDEXT_BOARD_ROOT:?}\"\necho \"$(basename \"$0\") $*\" >> \"$root/sim/commands.log\"\n%s",
            body.c_str());
    fclose(f);
    chmod(path.c_str(), 0755);
}

class UsbPort : public ::testing::Test {
protected:
    void SetUp() override {
        std::filesystem::create_directories(board.host("/userdata"));
        std::filesystem::create_directories(board.host("/dev"));
        std::filesystem::create_directories(board.host("/sim"));
        board.put("/sys/class/net/wlan0/address", "02:00:5e:0a:1b:2d\n");
        board.put("/sys/class/gpio/gpio26/value", "1\n"); // nothing in the port yet
        board.put("/sys/class/gpio/gpio26/direction", "in\n");
        board.put("/sys/class/gpio/gpio26/edge", "both\n");
        ASSERT_EQ(mkfifo(board.host("/dev/detected_usb").c_str(), 0600), 0);
        bin = board.host("/standins");
        ASSERT_EQ(sh("bash " + hdext::test::source_dir() + "/scripts/make-standins.sh " + bin), 0);
        // The board's own tool style: busybox ifconfig; dhcpd is busybox udhcpd on the port.
        script(bin + "/ifconfig", "exec busybox ifconfig \"$@\"\n");
        script(bin + "/dhcpd",
               "conf=\"$root/sim/udhcpd-$1.conf\"\n"
               "[ -f \"$root/sim/udhcpd-$1.pid\" ] && kill $(cat \"$root/sim/udhcpd-$1.pid\") 2>/dev/null\n"
               "printf 'start 192.168.0.20\\nend 192.168.0.50\\ninterface %s\\npidfile %s\\nlease_file %s\\n"
               "option subnet 255.255.255.0\\noption router 192.168.0.1\\n' \"$1\" \"$root/sim/udhcpd-$1.pid\" "
               "\"$root/sim/udhcpd-$1.leases\" > \"$conf\"\n"
               "touch \"$root/sim/udhcpd-$1.leases\"\nexec busybox udhcpd \"$conf\"\n");
        script(bin + "/mount", "mkdir -p \"$2\" && cp -a \"$root/sim/usb-stick/.\" \"$2\"\n");
        script(bin + "/umount", "rm -rf \"$1\"* 2>/dev/null; mkdir -p \"$1\"\n");
        name = "hdext-rtsp-" + std::to_string(getpid());
        laptop = name + "-laptop";
    }

    void TearDown() override {
        program.reset();
        if (!ns_made) return;
        board_cmd("usb ethernet unplug " + name + " --laptop " + laptop);
        for (const char* pid : {"/sim/udhcpd-eth1.pid"})
            if (board.exists(pid)) sh("kill " + board.get(pid) + " 2>/dev/null");
        sh("ip netns del " + name + " 2>/dev/null");
        sh("ip netns del " + name + "-air 2>/dev/null");
    }

    void make_unit_namespace() {
        ASSERT_EQ(geteuid(), 0u) << "this test needs root (network namespaces); run it as root";
        ASSERT_EQ(sh("ip netns add " + name), 0);
        ns_made = true;
        // Wi-Fi stands in as a veth whose far end sits in an "air" namespace of this test.
        ASSERT_EQ(sh("ip netns add " + name + "-air"), 0);
        ASSERT_EQ(sh("ip -n " + name + " link set lo up && ip -n " + name + " link add wlan0 type veth peer name wlan0 netns " +
                     name + "-air"),
                  0);
    }

    void start(const char* program_name, bool in_namespace) {
        std::string exe = hdext::test::build_dir() + "/src/" + program_name;
        if (in_namespace) {
            script(bin + "/unit", "exec ip netns exec " + name + " " + exe + "\n");
            exe = bin + "/unit";
        }
        std::string path = getenv("PATH") ? getenv("PATH") : "/usr/bin:/bin";
        program = std::make_unique<ChildProcess>(
            exe, std::vector<std::string>{"HDEXT_BOARD_ROOT=" + board.dir(), "PATH=" + bin + ":" + path},
            board.host("/out.log"));
        ASSERT_TRUE(program->wait_for_output("start-up: CreateReceiver")) << program->output();
    }

    int board_cmd(const std::string& args) {
        return sh(hdext::test::build_dir() + "/sim/board/hdext-board " + args + " --root " + board.dir() + " --netns " +
                  name + " >/dev/null 2>&1");
    }

    // First line of the server's answer to OPTIONS, asked from the laptop.
    std::string options_from_laptop() {
        return sh_out("ip netns exec " + laptop +
                      " timeout 5 bash -c 'exec 3<>/dev/tcp/192.168.0.1/8554 && printf \"OPTIONS "
                      "rtsp://192.168.0.1:8554/live RTSP/1.0\\r\\nCSeq: 1\\r\\n\\r\\n\" >&3 && head -n1 <&3' "
                      "2>/dev/null");
    }

    bool laptop_addressed() { return board.get("/sim/laptop-address").rfind("192.168.0.", 0) == 0; }

    hdext::test::TempBoardRoot board;
    std::string bin, name, laptop;
    bool ns_made = false;
    std::unique_ptr<ChildProcess> program;
};

TEST_F(UsbPort, LaptopOnTheAdapterGetsAnAddressAndTheServerAndReplugRestartsOnlyDhcp) {
    make_unit_namespace();
    start("hdext", true);
    ASSERT_EQ(board_cmd("usb ethernet plug " + name + " --laptop " + laptop), 0);
    ASSERT_TRUE(eventually([&] { return laptop_addressed(); })) << board.get("/sim/commands.log") << program->output();
    ASSERT_TRUE(program->wait_for_output(kUrlLine)) << program->output();
    std::string out = program->output();
    EXPECT_NE(out.find("\n\"live\" stream, from the file \"zvlive\"\n"), std::string::npos) << out;
    EXPECT_EQ(options_from_laptop(), "RTSP/1.0 200 OK\r\n");
    std::string log = board.get("/sim/commands.log");
    EXPECT_NE(log.find("ifconfig eth1 192.168.0.1 up\n"), std::string::npos) << log;
    EXPECT_EQ(count(log, "dhcpd eth1\n"), 1u) << log;

    ASSERT_EQ(board_cmd("usb ethernet unplug " + name + " --laptop " + laptop), 0);
    ASSERT_EQ(board_cmd("usb ethernet plug " + name + " --laptop " + laptop), 0);
    ASSERT_TRUE(eventually([&] { return count(board.get("/sim/commands.log"), "dhcpd eth1\n") == 2; }))
        << board.get("/sim/commands.log");
    EXPECT_TRUE(eventually([&] { return laptop_addressed(); }));
    EXPECT_EQ(count(board.get("/sim/commands.log"), "ifconfig eth1 192.168.0.1 up\n"), 2u);
    EXPECT_EQ(options_from_laptop(), "RTSP/1.0 200 OK\r\n");
    EXPECT_EQ(count(program->output(), "rtmp_init thread"), 1u) << "one server thread per process";
}

TEST_F(UsbPort, BuildWithoutRestreamNeverConfiguresTheAdapterNorOpensTheRtspPort) {
    make_unit_namespace();
    start("hdext_nortsp", true);
    ASSERT_EQ(board_cmd("usb ethernet plug " + name + " --laptop " + laptop), 0);
    // Several rounds of the full build's 2-second check.
    std::this_thread::sleep_for(7s);
    EXPECT_EQ(board.get("/sim/commands.log").find("192.168.0.1"), std::string::npos);
    EXPECT_EQ(sh_out("ip netns exec " + name + " ss -Hltn"), "");
    EXPECT_EQ(options_from_laptop(), "");
    EXPECT_FALSE(laptop_addressed());
}

TEST_F(UsbPort, StickWithResetFileResetsTheUnitAfterItSettlesAndRemovalUnmounts) {
    start("hdext", false);
    using clock = std::chrono::steady_clock;
    ASSERT_EQ(board_cmd("usb stick insert rx --reset"), 0);
    auto inserted = clock::now();
    ASSERT_TRUE(eventually([&] { return board.get("/sim/commands.log").find("reboot -f") != std::string::npos; }))
        << board.get("/sim/commands.log") << program->output();
    EXPECT_GE(clock::now() - inserted, 4s) << "the stick settles for about 5 s before it is mounted";
    EXPECT_TRUE(board.exists("/mnt/reset.ini"));
    EXPECT_NE(board.get("/userdata/system.ini").find("pincode=0\n"), std::string::npos) << board.get("/userdata/system.ini");

    ASSERT_EQ(board_cmd("usb stick remove rx"), 0);
    EXPECT_TRUE(eventually([&] { return !board.exists("/mnt/reset.ini"); }));
    EXPECT_NE(board.get("/sim/commands.log").find("umount " + board.host("/mnt/") + "\n"), std::string::npos);
}

} // namespace
