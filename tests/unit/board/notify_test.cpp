// Receiver notifications and the SDI status query on a simulated board.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "support/board_root.h"
#include "board/board.h"
#include "board/notify.h"
#include "sim/devices/world_capture.h"

namespace fs = std::filesystem;
using namespace hdext;

namespace {

struct SimBoard : ::testing::Test {
    std::unique_ptr<test::TempBoardRoot> board_root;
    fs::path root;
    void SetUp() override {
        board_root = std::make_unique<test::TempBoardRoot>();
        root = board_root->dir();
        fs::create_directories(root / "sim");
        fs::create_directories(root / "dev");
    }
    void TearDown() override { board_root.reset(); }
};

TEST(SdiAnswer, LastHexLineWins) {
    uint32_t word = 0;
    EXPECT_FALSE(board::parse_sdi_answer("", &word));
    EXPECT_FALSE(board::parse_sdi_answer("no number here\n", &word));
    ASSERT_TRUE(board::parse_sdi_answer("1d00\n2b00\n\n", &word));
    EXPECT_EQ(word, 0x2B00u);
}

TEST_F(SimBoard, EachFifoByteIsOneNotification) {
    const std::string fifo = (root / "dev/lt6911").string();
    EXPECT_FALSE(board::open_change_notifier("/dev/lt6911")) << "no device: no notifier";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    auto n = board::open_change_notifier("/dev/lt6911");
    ASSERT_TRUE(n);
    EXPECT_EQ(n->wait(0), 0);
    int w = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
    ASSERT_GE(w, 0);
    ASSERT_EQ(::write(w, "ab", 2), 2);
    ::close(w); // the writer going away is not a notification
    EXPECT_EQ(n->wait(5000), 2);
    EXPECT_EQ(n->wait(0), 0);
}


TEST_F(SimBoard, PluggingHdmiWritesTheSourceAndSignalsTheListener) {
    auto listener = [&] { return board::open_change_notifier("/dev/lt6911"); };
    EXPECT_NE(sim::plug_hdmi(root.string(), "1920x1080p60 audio=48000"), "")
        << "nobody listens yet: reported";
    EXPECT_TRUE(fs::exists(root / "dev/lt6911")) << "the FIFO is made";
    auto n = listener();
    ASSERT_TRUE(n);
    n->wait(0); // nothing queued from before
    EXPECT_EQ(sim::plug_hdmi(root.string(), "1280x720p50 audio=none"), "");
    EXPECT_EQ(n->wait(5000), 1);
    std::ifstream in(root / "sim/hdmi-in");
    std::string line;
    std::getline(in, line);
    EXPECT_EQ(line, "1280x720p50 audio=none");
    EXPECT_NE(sim::plug_hdmi(root.string(), "1280x720x50"), "");
    EXPECT_EQ(n->wait(0), 0) << "a refused description signals nothing";
}

TEST_F(SimBoard, PluggingSdiWritesTheCodeTheQueryReads) {
    uint32_t word = 0;
    ASSERT_TRUE(board::sdi_query(&word));
    EXPECT_EQ(word, 0x1Du << 8) << "no file: no signal";
    EXPECT_EQ(sim::plug_sdi(root.string(), "0x2D"), "");
    ASSERT_TRUE(board::sdi_query(&word));
    EXPECT_EQ(word, 0x2Du << 8);
    EXPECT_NE(sim::plug_sdi(root.string(), "2D-"), "");
    EXPECT_EQ(sim::plug_sdi(root.string(), "none"), "");
    ASSERT_TRUE(board::sdi_query(&word));
    EXPECT_EQ(word, 0x1Du << 8);
}


// The unit backend: the driver's SIGIO arrives on whatever thread, the waiting thread sees it.
// A FIFO raises SIGIO for its owner just like the receiver's driver does.
TEST_F(SimBoard, SigioNotificationsReachTheWaitingThread) {
    const std::string fifo = (root / "dev/notify").string();
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    auto n = board::open_sigio_notifier(fifo);
    ASSERT_TRUE(n) << strerror(errno);
    EXPECT_EQ(n->wait(0), 0);
    int w = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
    ASSERT_GE(w, 0);
    ASSERT_EQ(::write(w, "a", 1), 1);
    EXPECT_GE(n->wait(5000), 1);
    ::close(w);
    EXPECT_FALSE(board::open_sigio_notifier((root / "dev/missing").string()));
}

} // namespace
