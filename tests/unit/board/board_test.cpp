#include <gtest/gtest.h>
#include <stdlib.h>

#include "board/board.h"
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
