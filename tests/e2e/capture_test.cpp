// A simulated TX picking up its sources: the real program started on a board root whose HDMI
// source is already plugged (no change notification), then taken over by an SDI source and
// handed back.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>

#include "support/board_root.h"
#include "support/child_process.h"
#include "support/wait.h"

using hdext::test::ChildProcess;

namespace {

class CaptureE2e : public ::testing::Test {
protected:
    void SetUp() override {
        board.put("/home/tx", "");
        std::filesystem::create_directories(board.host("/userdata"));
        std::filesystem::create_directories(board.host("/dev"));
        board.put("/sys/class/net/wlan0/address", "02:00:5e:0a:1b:2c\n");
        board.put("/sim/hdmi-in", "1920x1080p60 audio=48000\n");
        board.put("/sim/sdi-in", "none\n");
        ASSERT_EQ(mkfifo(board.host("/dev/lt6911").c_str(), 0600), 0);
        bin = board.host("/standins");
        std::string cmd = "bash " + hdext::test::source_dir() + "/scripts/make-standins.sh " + bin;
        ASSERT_EQ(system(cmd.c_str()), 0);
    }

    std::unique_ptr<ChildProcess> launch() {
        return hdext::test::launch_unit("hdext", board.dir(), bin, board.host("/out.log"));
    }

    // Output after the first occurrence of `mark`.
    static std::string after(const std::string& out, const std::string& mark) {
        size_t p = out.find(mark);
        return p == std::string::npos ? std::string() : out.substr(p);
    }

    hdext::test::TempBoardRoot board;
    std::string bin;
};

TEST_F(CaptureE2e, HdmiSourceIsPickedUpThenSdiTakesOverAndHandsBack) {
    auto p = launch();
    ASSERT_TRUE(p->wait_for_output("6911 strat VENC $$$$$ 6911 w=1920,h=1080,frame=60,"
                                   "SCAN_MODE_6911=1"))
        << p->output();
    EXPECT_TRUE(p->wait_for_output("6911 strat AENC $$$$$ 6911 sampling=48000"));
    // Pictures and audio frames keep coming.
    EXPECT_TRUE(p->wait_for_output("video encoder: 1200 pictures")) << p->output();
    EXPECT_TRUE(p->wait_for_output("audio encoder: 500 frames captured"));

    board.put("/sim/sdi-in", "0x24\n");
    ASSERT_TRUE(p->wait_for_output("$$$$$ 3471 w=1280,h=720,frame=50,SCAN_MODE_3471=1"))
        << p->output();
    const std::string mark = "$$$$$ 3471 w=1280";
    ASSERT_TRUE(p->wait_for_output("video encoder: 1800 pictures")) << "SDI capture runs";
    EXPECT_TRUE(hdext::test::eventually([&] { return after(p->output(), mark).find("audio encoder:") !=
                                        std::string::npos; }, std::chrono::seconds(120), std::chrono::milliseconds(200)))
        << "audio keeps flowing from the SDI input";

    board.put("/sim/sdi-in", "none\n");
    ASSERT_TRUE(p->wait_for_output("$$$$$ 3471 sampling=48000")) << p->output();
    const std::string back = after(p->output(), "$$$$$ CLOSE 3471");
    EXPECT_NE(back.find("$$$$$ 6911 w=1920,h=1080,frame=60,SCAN_MODE_6911=1"), std::string::npos);
    EXPECT_NE(back.find("$$$$$ 3471 sampling=48000"), std::string::npos);
    EXPECT_EQ(after(p->output(), mark).find("strat VENC"), std::string::npos)
        << "the encoders are started once";
}

} // namespace
