// The listener on a simulated board: the chip is read once when the listener starts, then one
// whole detection sequence runs per notification byte, never two at once, also while the audio
// task re-checks the rate.
#include "support/wait.h"
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "support/board_root.h"
#include "board/board.h"
#include "support/capture_fixture.h"

namespace fs = std::filesystem;
using namespace capture_test;
using namespace std::chrono_literals;

namespace {

// Passes transfers on to the chip and notes any register-access open that arrives while a
// sequence already holds access open.
class OverlapWatch : public hdext::board::I2cDevice {
public:
    explicit OverlapWatch(std::shared_ptr<hdext::board::I2cDevice> chip) : chip_(std::move(chip)) {}
    bool on_write(const uint8_t* b, size_t n) override {
        if (n == 2 && b[0] == 0xFF) bank_ = b[1];
        if (n == 2 && bank_ == 0x80 && b[0] == 0xEE) {
            if (b[1] == 1 && open_) ++overlaps;
            if (b[1] == 1) ++opens;
            open_ = b[1] == 1;
        }
        return chip_->on_write(b, n);
    }
    bool on_read(uint8_t* b, size_t n) override { return chip_->on_read(b, n); }
    std::atomic<int> overlaps{0};
    std::atomic<int> opens{0};

private:
    std::shared_ptr<hdext::board::I2cDevice> chip_;
    uint8_t bank_ = 0;
    bool open_ = false;
};

struct ListenerBench : HdmiBench {
    std::unique_ptr<hdext::test::TempBoardRoot> board_root;
    fs::path root;
    std::shared_ptr<OverlapWatch> watch = std::make_shared<OverlapWatch>(model);
    int fifo_w = -1;

    void SetUp() override {
        HdmiBench::SetUp();
        hdext::board::register_sim_i2c_device(kBus, 0x2B, watch);
        board_root = std::make_unique<hdext::test::TempBoardRoot>();
        root = board_root->dir();
        fs::create_directories(root / "dev");
        ASSERT_EQ(mkfifo((root / "dev/lt6911").c_str(), 0600), 0);
        // Held open so the bytes stay queued until the listener has opened its end.
        fifo_w = ::open((root / "dev/lt6911").c_str(), O_RDWR | O_NONBLOCK);
        ASSERT_GE(fifo_w, 0);
    }
    void TearDown() override {
        ::close(fifo_w);
        board_root.reset();
        HdmiBench::TearDown();
    }
    void notify(int bytes) { ASSERT_EQ(::write(fifo_w, "xxxx", bytes), bytes); }
};

using hdext::test::eventually;

// A source plugged before the start is picked up without a notification.
TEST_F(ListenerBench, ReadsTheChipAtStartThenRunsOneWholeSequencePerNotification) {
    plug("1920x1080p60 audio=48000");
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    {
        hdext::Lt6911Listener listener(detector, "/dev/lt6911", 20);
        EXPECT_TRUE(eventually([&] { return listener.sequences_run() == 1; }));
        EXPECT_EQ(pipeline.take(), (Calls{"start_video 2", "start_audio 2"}));
        std::atomic<bool> stop{false};
        std::thread audio_task([&] {
            while (!stop) detector.recheck_audio();
        });
        notify(2);
        const bool all = eventually([&] { return listener.sequences_run() == 3; });
        stop = true;
        audio_task.join();
        EXPECT_TRUE(all);
    }
    testing::internal::GetCapturedStderr();
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(watch->overlaps, 0);
    size_t irq = 0;
    for (size_t p = 0; (p = out.find("$$$ get a hdmi irq signal", p)) != std::string::npos; ++p)
        ++irq;
    EXPECT_EQ(irq, 3u);
    EXPECT_TRUE(pipeline.take().empty()) << "the same source again: nothing to do";
    EXPECT_FALSE(model->access_open());
}

} // namespace
