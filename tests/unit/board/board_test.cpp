#include <gtest/gtest.h>
#include <stdlib.h>

#include "board/board.h"
#include "board/figures.h"
#include "board/role.h"
#include "support/board_root.h"

using hdext::board::path;

TEST(BoardPath, RootPrefixesEveryPathOnceAndNoRootIsAUnit) {
    {
        hdext::test::TempBoardRoot b;
        EXPECT_TRUE(hdext::board::simulated());
        EXPECT_EQ(path("/userdata/wifi.ini"), b.dir() + "/userdata/wifi.ini");
    }
    setenv("HDEXT_BOARD_ROOT", "/tmp/some-board///", 1);
    hdext::board::reload_root();
    EXPECT_EQ(path("/etc/uuidList"), "/tmp/some-board/etc/uuidList");
    setenv("HDEXT_BOARD_ROOT", "", 1);
    hdext::board::reload_root();
    EXPECT_FALSE(hdext::board::simulated()) << "an empty root is a unit";
    EXPECT_EQ(path("/etc/uuidList"), "/etc/uuidList");
    unsetenv("HDEXT_BOARD_ROOT");
    hdext::board::reload_root();
}

TEST(BoardRole, MarkerDirectoryOrEmptyFileMakesTx) {
    hdext::test::TempBoardRoot b;
    EXPECT_EQ(hdext::board::detect_role(), EQUIPMENT_MODEL_RX);
    b.put("/home/tx", "");
    EXPECT_EQ(hdext::board::detect_role(), EQUIPMENT_MODEL_TX);
    std::filesystem::remove(b.host("/home/tx"));
    std::filesystem::create_directories(b.host("/home/tx"));
    EXPECT_EQ(hdext::board::detect_role(), EQUIPMENT_MODEL_TX);
}

TEST(BoardFigures, SheetsKeepTheirOwnKeysInOrderAndAPrefixIsForgottenWhole) {
    using hdext::board::FigureSheet;
    hdext::board::set_figure(FigureSheet::capture, "rx2_wait_ms", 40);
    hdext::board::set_figure(FigureSheet::capture, "bitrate_kbps", 12288);
    hdext::board::set_figure(FigureSheet::capture, "rx2_wait_ms", 7);
    hdext::board::set_figure(FigureSheet::capture, "rx1_wait_ms", 3);
    hdext::board::set_figure(FigureSheet::capture, "rx1_addr", "192.168.168.101");
    hdext::board::set_figure(FigureSheet::display, "late_drops", 5);
    EXPECT_EQ(hdext::board::figure_lines(FigureSheet::capture), "bitrate_kbps=12288\nrx1_addr=192.168.168.101\nrx1_wait_ms=3\nrx2_wait_ms=7\n");
    hdext::board::clear_figures(FigureSheet::capture, "rx1_");
    EXPECT_EQ(hdext::board::figure_lines(FigureSheet::capture), "bitrate_kbps=12288\nrx2_wait_ms=7\n");
    EXPECT_EQ(hdext::board::figure_lines(FigureSheet::display), "late_drops=5\n");
    hdext::board::clear_figures(FigureSheet::capture, "");
    hdext::board::clear_figures(FigureSheet::display, "");
    EXPECT_EQ(hdext::board::figure_lines(FigureSheet::capture), "");
}
