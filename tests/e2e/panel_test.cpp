// The front panel of a running unit as the world sees it: keys pressed with hdext-board go
// through the unit's input FIFO, and the OLED picture files follow the screens.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <thread>

#include "support/board_root.h"
#include "support/child_process.h"

using hdext::test::ChildProcess;

namespace {

class Panel : public ::testing::Test {
protected:
    void SetUp() override {
        std::filesystem::create_directories(board.host("/userdata"));
        std::filesystem::create_directories(board.host("/dev/input"));
        std::filesystem::create_directories(board.host("/home/tx"));
        board.put("/sys/class/net/wlan0/address", "02:00:5e:0a:1b:2c\n");
        ASSERT_EQ(mkfifo(board.host("/dev/input/event0").c_str(), 0600), 0);
        bin = board.host("/standins");
        std::string cmd = "bash " + hdext::test::source_dir() + "/scripts/make-standins.sh " + bin;
        ASSERT_EQ(system(cmd.c_str()), 0);
    }
    std::unique_ptr<ChildProcess> launch() {
        return hdext::test::launch_unit("hdext", board.dir(), bin, board.host("/out.log"));
    }
    int board_cmd(const std::string& args) {
        const std::string cmd = hdext::test::build_dir() + "/sim/board/hdext-board " + args +
                                " --root " + board.dir() + " > " + board.host("/cmd.log") + " 2>&1";
        return system(cmd.c_str());
    }
    // Waits until the screen file differs from `before` (the model writes it after a burst).
    std::string screen_change(const std::string& before) {
        for (int i = 0; i < 100; ++i) {
            const std::string now = board.get("/sim/oled.pbm");
            if (!now.empty() && now != before) return now;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        return before;
    }
    hdext::test::TempBoardRoot board;
    std::string bin;
};

TEST_F(Panel, HoldingMenuOpensTheMenuOnTheScreen) {
    auto p = launch();
    ASSERT_TRUE(p->wait_for_output("osd_manager_task_init")) << p->output();
    const std::string home = screen_change("");
    ASSERT_FALSE(home.empty()) << "no screen written";
    ASSERT_EQ(board_cmd("key press menu 3.6"), 0) << board.get("/cmd.log");
    ASSERT_TRUE(p->wait_for_output("====app_widget_on====1, 0")) << p->output();
    EXPECT_NE(screen_change(home), home);
    EXPECT_TRUE(std::filesystem::exists(board.host("/sim/oled.png")));
    ASSERT_EQ(board_cmd("screen"), 0);
    EXPECT_NE(board.get("/cmd.log").find(board.host("/sim/oled.png")), std::string::npos);
}

TEST_F(Panel, UnitWithoutDisplayRunsWithoutTheOnScreenManager) {
    board.put("/sim/no-oled", "");
    auto p = launch();
    ASSERT_TRUE(p->wait_for_output("There is no OLED. ")) << p->output();
    ASSERT_TRUE(p->wait_for_output("start-up: SdiProc")) << p->output();
    EXPECT_EQ(p->output().find("osd_manager_task_init"), std::string::npos);
    EXPECT_NE(board_cmd("screen"), 0);
}

} // namespace
