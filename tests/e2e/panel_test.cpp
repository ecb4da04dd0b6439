// A unit without a display fitted. (Keys through the unit's input FIFO and the OLED picture
// following the screens are tested end to end through the browser panel, in the kit tests.)
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

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
        const std::string cmd = hdext::test::board_tool() + " " + args +
                                " --root " + board.dir() + " > " + board.host("/cmd.log") + " 2>&1";
        return system(cmd.c_str());
    }
    hdext::test::TempBoardRoot board;
    std::string bin;
};

TEST_F(Panel, UnitWithoutDisplayRunsWithoutTheOnScreenManager) {
    board.put("/sim/no-oled", "");
    auto p = launch();
    ASSERT_TRUE(p->wait_for_output("There is no OLED. ")) << p->output();
    ASSERT_TRUE(p->wait_for_output("start-up: SdiProc")) << p->output();
    EXPECT_EQ(p->output().find("osd_manager_task_init"), std::string::npos);
    EXPECT_NE(board_cmd("screen"), 0);
}

} // namespace
