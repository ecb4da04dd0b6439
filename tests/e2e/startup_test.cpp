// The program's start-up as an outside observer sees it: a process on a temporary board root
// with stand-in board programs first on PATH.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <filesystem>
#include <sstream>
#include <thread>

#include "support/board_root.h"
#include "support/child_process.h"

using hdext::test::ChildProcess;

namespace {

constexpr const char* kTxBanner = "TAMBO model is :::::: :::::: <TX>\n";
constexpr const char* kRxBanner = "TAMBO model is :::::: :::::: <RX>\n";
constexpr const char* kTxLastStep = "start-up: SdiProc";
constexpr const char* kRxLastStep = "start-up: CreateReceiver";

class Startup : public ::testing::Test {
protected:
    void SetUp() override {
        std::filesystem::create_directories(board.host("/userdata"));
        board.put("/sys/class/net/wlan0/address", "02:00:5e:0a:1b:2c\n");
        bin = board.host("/standins");
        std::string cmd = "bash " + hdext::test::source_dir() + "/scripts/make-standins.sh " + bin;
        ASSERT_EQ(system(cmd.c_str()), 0);
    }

    std::unique_ptr<ChildProcess> launch(const char* program = "hdext") {
        return hdext::test::launch_unit(program, board.dir(), bin, board.host("/out.log"));
    }

    // Position of needle in text; fails the test when it is missing.
    static size_t at(const std::string& text, const std::string& needle) {
        size_t p = text.find(needle);
        EXPECT_NE(p, std::string::npos) << "missing: " << needle;
        return p;
    }
    // Every line is there, each after the one before it.
    static void expect_in_order(const std::string& text, std::initializer_list<std::string> lines) {
        const std::string* before = nullptr;
        size_t pos = 0;
        for (const auto& line : lines) {
            const size_t p = at(text, line);
            if (before) {
                EXPECT_LT(pos, p) << "\"" << *before << "\" before \"" << line << "\"";
            }
            before = &line;
            pos = p;
        }
    }

    hdext::test::TempBoardRoot board;
    std::string bin;
};

} // namespace

TEST_F(Startup, TransmitterStartsInTheFixedOrder) {
    board.put("/home/tx", "");
    auto p = launch();
    ASSERT_TRUE(p->wait_for_output(kTxLastStep)) << p->output();
    // Settings load before the first media step; the network task exists before the HDMI detector.
    expect_in_order(p->output(), {"###### ###### main pid=", kTxBanner, "Parameter module initialize ..............",
                                  "g_pParamConfig->Init finish", "start-up: INTF_CodecInit",
                                  "start-up: Quendor_Init_enVideo_Task", "start-up: Init_Network",
                                  "start-up: Lt6911Create", "start-up: CreateSender", kTxLastStep});

    // Settings created, unit named from its MAC.
    EXPECT_NE(board.get("/userdata/wifi.ini").find("ssid=QUENDOR_0A1B2C\n"), std::string::npos);
    EXPECT_NE(board.get("/userdata/system.ini").find("pincode="), std::string::npos);
    // Board set-up: the kernel knobs after the LED lines (the line orders are unit-tested).
    std::string gpio = board.get("/sim/gpio.log");
    EXPECT_LT(gpio.find("/sys/class/gpio/gpio1/value 0\n"),
              gpio.find("/proc/sys/net/ipv4/tcp_low_latency 1\n")) << gpio;
    EXPECT_NE(board.get("/sim/commands.log").find("insmod " + board.host("/opt/gs2971spi.ko") + "\n"),
              std::string::npos)
        << board.get("/sim/commands.log");
}

TEST_F(Startup, ReceiverStartsInTheFixedOrder) {
    auto p = launch();
    ASSERT_TRUE(p->wait_for_output(kRxLastStep)) << p->output();
    // Decode tasks are set up before the receiver is created.
    expect_in_order(p->output(), {"g_pParamConfig->Init finish", "start-up: INTF_CodecInit",
                                  "start-up: Quendor_Init_deVideo_Task", "start-up: Quendor_Init_deAudio_Task",
                                  "start-up: app_osd_manager_init", "start-up: Init_Network", kRxLastStep});

    EXPECT_NE(board.get("/userdata/wifi.ini").find("ssid=QUENDOR_DEFAULT\n"), std::string::npos);
    EXPECT_NE(board.get("/sim/gpio.log").find("/sys/class/gpio/gpio103/direction in\n"),
              std::string::npos);
    EXPECT_EQ(board.get("/proc/sys/net/ipv4/tcp_low_latency"), "1\n");
    EXPECT_EQ(board.get("/proc/sys/net/ipv4/tcp_fack"), "1\n");
}

TEST_F(Startup, QuietSignalsLeaveItRunningAndACrashGivesTheReport) {
#if defined(__SANITIZE_THREAD__)
    // ThreadSanitizer takes over the signals a program handles (it defers them, and a SIGSEGV
    // sent from outside sometimes ends the program before the handler runs).
    GTEST_SKIP() << "signal handling is ThreadSanitizer's in this build";
#endif
    auto p = launch();
    ASSERT_TRUE(p->wait_for_output(kRxLastStep)) << p->output();
    for (int sig : {SIGTERM, SIGINT, SIGHUP, SIGPIPE, SIGQUIT, SIGALRM}) {
        ASSERT_EQ(kill(p->pid(), sig), 0);
        ASSERT_TRUE(p->wait_signals_handled()) << "signal " << sig;
        ASSERT_TRUE(p->running()) << "ended by signal " << sig;
    }
    ASSERT_EQ(kill(p->pid(), SIGSEGV), 0);
    int status = p->wait_exit();
    ASSERT_TRUE(WIFEXITED(status)) << "status " << status << "\n" << p->output();
    EXPECT_EQ(WEXITSTATUS(status), 1);
    std::string out = p->output();
    size_t head = at(out, ">>>>>> Get a Segmentaion fault.PID=");
    size_t addr = at(out, "Fault address:");
    size_t frames = at(out, " stack frames.nm");
    EXPECT_LT(head, addr);
    EXPECT_LT(addr, frames);
    EXPECT_NE(out.find("Obtained "), std::string::npos);
}

TEST_F(Startup, BuildWithoutRestreamStartsAReceiverToo) {
    auto p = launch("hdext_nortsp");
    ASSERT_TRUE(p->wait_for_output(kRxLastStep)) << p->output();
    EXPECT_NE(p->output().find(kRxBanner), std::string::npos);
}

// A TX started before its Wi-Fi interface exists listens on both ports once it appears.
TEST_F(Startup, TransmitterListensOnceItsWifiInterfaceExists) {
    board.put("/home/tx", "");
    auto p = launch();
    ASSERT_TRUE(p->wait_for_output("stream: port 9000 not listening yet")) << p->output();
    ASSERT_TRUE(p->wait_for_output("heartbeat: port 9990 not listening yet")) << p->output();
    std::this_thread::sleep_for(std::chrono::seconds(3)); // a few more attempts, said once
    const std::string net = "nsenter --net=/proc/" + std::to_string(p->pid()) + "/ns/net ";
    ASSERT_EQ(hdext::test::capture_output(net + "ip link add wlan0 type veth peer name wlan0p 2>&1; " + net +
                                          "ip link set wlan0 up 2>&1"),
              "");
    ASSERT_TRUE(p->wait_for_output("stream: listening on port 9000")) << p->output();
    ASSERT_TRUE(p->wait_for_output("heartbeat: listening on port 9990")) << p->output();
    std::istringstream out(p->output());
    int said = 0;
    for (std::string line; std::getline(out, line);) said += line.find(" bind socket error: No such device") != std::string::npos;
    EXPECT_EQ(said, 1);
    // Listening sockets of the unit's network (state 0A) on 9000 (2328) and 9990 (2706).
    std::ifstream in("/proc/" + std::to_string(p->pid()) + "/net/tcp");
    const std::string tcp((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_NE(tcp.find(":2328 00000000:0000 0A"), std::string::npos) << tcp;
    EXPECT_NE(tcp.find(":2706 00000000:0000 0A"), std::string::npos) << tcp;
}

TEST_F(Startup, UnitWithoutDisplayRunsWithoutTheOnScreenManager) {
    board.put("/home/tx", "");
    board.put("/sim/no-oled", "");
    std::filesystem::create_directories(board.host("/dev/input"));
    ASSERT_EQ(mkfifo(board.host("/dev/input/event0").c_str(), 0600), 0);
    auto p = launch();
    ASSERT_TRUE(p->wait_for_output("There is no OLED. ")) << p->output();
    ASSERT_TRUE(p->wait_for_output(kTxLastStep)) << p->output();
    EXPECT_EQ(p->output().find("osd_manager_task_init"), std::string::npos);
    const std::string screen = hdext::test::board_tool() + " screen --root " + board.dir() + " >/dev/null 2>&1";
    EXPECT_NE(system(screen.c_str()), 0);
}
