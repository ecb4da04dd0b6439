// The whole video path (stamps through H.264 to the output's reports) as the smoke program runs
// it, in real time.
#include "sim_board.h"
#include "support/child_process.h"
#include <cstdio>
#include <gtest/gtest.h>

namespace hdext::test {
namespace {

TEST_F(SimBoard, SmokeProgramStreamsEveryFrameThroughTheFacade) {
    const std::string cmd =
        hdext::test::build_dir() + "/sim/mpi/media_smoke --seconds 1 --board " + root + " 2>&1";
    FILE* p = popen(cmd.c_str(), "r");
    ASSERT_NE(p, nullptr);
    std::string out;
    char buf[512];
    while (fgets(buf, sizeof(buf), p))
        out += buf;
    const int rc = pclose(p);
    EXPECT_EQ(rc, 0) << out;
    EXPECT_NE(out.find("1280x720@60 6 Mbit/s: captured"), std::string::npos) << out;
    EXPECT_NE(out.find("1920x1080@60 6 Mbit/s: captured"), std::string::npos) << out;
    EXPECT_EQ(out.find("FAILED"), std::string::npos) << out;
    const std::string status = read("/sim/hdmi-out/status");
    EXPECT_NE(status.find("hdmi_audio_rate=48000\n"), std::string::npos) << status;
    EXPECT_NE(status.find("hdmi_video_format=0\n"), std::string::npos) << status;
}

} // namespace
} // namespace hdext::test
