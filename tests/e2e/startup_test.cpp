// The program's start-up as an outside observer sees it: a process on a temporary board root
// with stand-in board programs first on PATH.
#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>

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

    hdext::test::TempBoardRoot board;
    std::string bin;
};

} // namespace

TEST_F(Startup, TransmitterStartsInTheFixedOrder) {
    board.put("/home/tx", "");
    auto p = launch();
    ASSERT_TRUE(p->wait_for_output(kTxLastStep)) << p->output();
    std::string out = p->output();
    size_t main_line = at(out, "###### ###### main pid=");
    size_t banner = at(out, kTxBanner);
    size_t params = at(out, "Parameter module initialize ..............");
    size_t params_done = at(out, "g_pParamConfig->Init finish");
    size_t codec = at(out, "start-up: INTF_CodecInit");
    size_t venc = at(out, "start-up: Quendor_Init_enVideo_Task");
    size_t net = at(out, "start-up: Init_Network");
    size_t hdmi = at(out, "start-up: Lt6911Create");
    size_t sender = at(out, "start-up: CreateSender");
    size_t sdi = at(out, kTxLastStep);
    EXPECT_LT(main_line, banner);
    EXPECT_LT(banner, params);
    EXPECT_LT(params, params_done);
    EXPECT_LT(params_done, codec) << "settings are loaded before the first media step";
    EXPECT_LT(codec, venc);
    EXPECT_LT(venc, net);
    EXPECT_LT(net, hdmi) << "the network task exists before the HDMI detector starts";
    EXPECT_LT(hdmi, sender);
    EXPECT_LT(sender, sdi);

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
    std::string out = p->output();
    size_t params_done = at(out, "g_pParamConfig->Init finish");
    size_t codec = at(out, "start-up: INTF_CodecInit");
    size_t vdec = at(out, "start-up: Quendor_Init_deVideo_Task");
    size_t adec = at(out, "start-up: Quendor_Init_deAudio_Task");
    size_t osd = at(out, "start-up: app_osd_manager_init");
    size_t net = at(out, "start-up: Init_Network");
    size_t recv = at(out, kRxLastStep);
    EXPECT_LT(params_done, codec);
    EXPECT_LT(codec, vdec);
    EXPECT_LT(vdec, adec);
    EXPECT_LT(adec, osd);
    EXPECT_LT(osd, net);
    EXPECT_LT(net, recv) << "decode tasks are set up before the receiver is created";

    EXPECT_NE(board.get("/userdata/wifi.ini").find("ssid=QUENDOR_DEFAULT\n"), std::string::npos);
    EXPECT_NE(board.get("/sim/gpio.log").find("/sys/class/gpio/gpio103/direction in\n"),
              std::string::npos);
    EXPECT_EQ(board.get("/proc/sys/net/ipv4/tcp_low_latency"), "1\n");
    EXPECT_EQ(board.get("/proc/sys/net/ipv4/tcp_fack"), "1\n");
}

TEST_F(Startup, QuietSignalsLeaveItRunningAndACrashGivesTheReport) {
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
