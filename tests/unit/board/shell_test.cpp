#include <gtest/gtest.h>

#include <memory>

#include "board/shell.h"

using hdext::board::RecordingShell;

namespace {
// Puts the real runner back however the test ends.
struct ShellGuard {
    std::shared_ptr<RecordingShell> fake = std::make_shared<RecordingShell>();
    ShellGuard() { hdext::board::set_shell(fake); }
    ~ShellGuard() { hdext::board::set_shell(nullptr); }
};
} // namespace

TEST(PopenRead, RealShellParsesLastLine) {
    hdext::board::set_shell(nullptr);
    EXPECT_EQ(popen_read("echo 3", 10), 3);
    EXPECT_EQ(popen_read("printf '1\\n2\\n42\\n'", 10), 42);
    EXPECT_EQ(popen_read("echo 1f", 16), 31);
    EXPECT_EQ(popen_read("echo 0x2B00", 16), 0x2B00);
    EXPECT_EQ(popen_read("true", 10), -1) << "no output";
    EXPECT_EQ(popen_read("echo 3", 8), -1) << "only bases 10 and 16 give a number";
    EXPECT_EQ(popen_read("echo hello", 10), 0) << "a line without a number reads as 0";
}

TEST(SystemCmd, RealShellRunsAndReaps) {
    hdext::board::set_shell(nullptr);
    char dir[] = "/tmp/hdext-sh-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    std::string f = std::string(dir) + "/out";
    EXPECT_EQ(system_cmd(("echo hi > " + f).c_str(), 10), 0);
    // The command finished before system_cmd returned.
    FILE* fp = fopen(f.c_str(), "r");
    ASSERT_NE(fp, nullptr);
    char buf[8] = {};
    ASSERT_NE(fgets(buf, sizeof buf, fp), nullptr);
    fclose(fp);
    EXPECT_STREQ(buf, "hi\n");
    EXPECT_EQ(system_cmd("exit 3", 10), 0) << "the command's own status is not reported";
    EXPECT_EQ(system_cmd(("rm -rf " + std::string(dir)).c_str(), 10), 0);
}

TEST(SystemCmd, StartFailureIsReported) {
    ShellGuard g;
    g.fake->fail("insmod");
    testing::internal::CaptureStdout();
    EXPECT_EQ(system_cmd("insmod /opt/gs2971spi.ko ", 10), -1);
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("popen error: "), std::string::npos);
    EXPECT_EQ(popen_read("insmod x", 10), -1);
}

TEST(PopenRead, FakeRepliesByPrefixAndSplitsLongLines) {
    ShellGuard g;
    g.fake->reply("cat /proc/gs2971", "0\n2B00\n");
    g.fake->reply("cat", "7\n");
    EXPECT_EQ(popen_read("cat /proc/gs2971", 16), 0x2B00);
    EXPECT_EQ(popen_read("cat other", 10), 7);
    // A line longer than the 199-character buffer is read in pieces; the last piece counts.
    g.fake->reply("long", std::string(197, ' ') + "1234\n");
    EXPECT_EQ(popen_read("long", 10), 34);
}

TEST(CheckAppExist, FindsTextInPsOutput) {
    ShellGuard g;
    g.fake->reply("ps | grep  hostapd", " 812 root  hostapd /etc/Wireless/hostapd.conf\n");
    testing::internal::CaptureStderr();
    EXPECT_EQ(CheckAppExist("hostapd", "hostapd.conf"), 1);
    EXPECT_EQ(CheckAppExist("wpa_supplicant", "wpa"), 0);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("hostapd is exist......\n"), std::string::npos);
    EXPECT_NE(err.find("wpa_supplicant is not exist !!!!!! !!!!!! !!!!!!\n"), std::string::npos);
    EXPECT_EQ(g.fake->commands().front(), "ps | grep  hostapd |  grep -v grep");
}
