// dump_print: the stamped line shape, the 512-byte limit and level gating.
#include <gtest/gtest.h>

#include <string>

#include "core/dump_print.h"
#include "core_env.h"

namespace {

TEST(DumpPrint, LineShape) {
    std::string err = capture_stderr([] {
        dump_print("../source/network/CNetworkTask", 222, "Run", "222 HB recvmsg error ,error = %s \n",
                   "Broken pipe");
    });
    EXPECT_EQ(err, "../source/network/CNetworkTask:(222):Run @\"222 HB recvmsg error ,error = "
                   "Broken pipe \n\"@\n");
}

// Prefix "f:(1):g @\"" is 10 bytes and the tail "\"@\n" 3: a message of m bytes makes a line
// of 13 + m characters plus the terminating zero.
TEST(DumpPrint, LinesOverFiveHundredTwelveBytesAreDroppedWhole) {
    std::string fits(512 - 1 - 13, 'm'), over(512 - 13, 'm');
    std::string err = capture_stderr([&] { dump_print("f", 1, "g", "%s", fits.c_str()); });
    EXPECT_EQ(err, "f:(1):g @\"" + fits + "\"@\n");
    EXPECT_EQ(err.size() + 1, 512u);
    int r = -1;
    EXPECT_EQ(capture_stderr([&] { r = dump_print("f", 1, "g", "%s", over.c_str()); }), "");
    EXPECT_EQ(r, 0);
}

TEST(DumpPrint, LevelGatesTheCallSite) {
    ASSERT_EQ(debug_level.load(), 3);
    EXPECT_EQ(log_mode.load(), 7u);
    auto both = [] {
        DUMP(1, "one\n");
        DUMP(3, "three\n");
    };
    std::string err = capture_stderr(both);
    EXPECT_NE(err.find("@\"one\n\"@\n"), std::string::npos);
    EXPECT_NE(err.find("@\"three\n\"@\n"), std::string::npos);
    // Stamped by the caller, with the file named relative to the project, wherever it was built.
    EXPECT_EQ(err.rfind("tests/unit/core/dump_print_test.cpp:(", 0), 0u) << err;
    debug_level.store(1);
    err = capture_stderr(both);
    debug_level.store(3);
    EXPECT_NE(err.find("@\"one\n\"@\n"), std::string::npos);
    EXPECT_EQ(err.find("three"), std::string::npos);
}

}  // namespace
