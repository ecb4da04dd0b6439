#include "periph/buttons.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/input.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <thread>

#include "support/board_root.h"
#include "support/recording_tasks.h"

namespace hdext::test {
namespace {

input_event ev(uint16_t type, uint16_t code, int32_t value) {
    input_event e{};
    e.type = type;
    e.code = code;
    e.value = value;
    return e;
}

void write_events(int fd, std::initializer_list<input_event> evs) {
    for (const auto& e : evs) ASSERT_EQ(write(fd, &e, sizeof e), static_cast<ssize_t>(sizeof e));
}

std::vector<uint32_t> osd_ids() {
    std::vector<uint32_t> ids;
    for (auto& m : Recorders::get().messages(kMidOsd)) {
        EXPECT_EQ(m.src, kButtonSender);
        EXPECT_EQ(m.len, 0u);
        ids.push_back(m.msg_id);
    }
    return ids;
}

class ButtonsTest : public ::testing::Test {
protected:
    void SetUp() override {
        Recorders::get().start(kMidOsd);
        Recorders::get().clear();
    }
};

TEST_F(ButtonsTest, OnePressAndOneReleasePerKeyAutoRepeatAndOtherEventsIgnored) {
    int p[2];
    ASSERT_EQ(pipe(p), 0);
    std::thread reader([&] { hdext::periph::buttons_read_events(p[0]); });
    for (uint16_t key : {kKeyUp, kKeyDown, kKeyMenu}) {
        write_events(p[1], {ev(EV_KEY, key, 1), ev(EV_SYN, 0, 0), ev(EV_KEY, key, 2), ev(EV_KEY, key, 2),
                            ev(EV_SYN, 0, 0), ev(EV_KEY, key, 0), ev(EV_SYN, 0, 0)});
    }
    write_events(p[1], {ev(EV_KEY, KEY_A, 1), ev(EV_KEY, KEY_A, 0), ev(EV_MSC, 4, 1)});
    close(p[1]);
    reader.join();  // the end of the input ends the read loop
    close(p[0]);
    EXPECT_EQ(osd_ids(), (std::vector<uint32_t>{HMSG_USER_UP_BUTTON, HMSG_USER_UP_BUTTON_CLR,
                                                HMSG_USER_DOWN_BUTTON, HMSG_USER_DOWN_BUTTON_CLR,
                                                HMSG_USER_MENU_BUTTON, HMSG_USER_MENU_BUTTON_CLR}));
}

double cpu_seconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// The key thread outlives a missing device and a world that closes its end of the FIFO, and
// waits instead of polling while it has nothing to read.
TEST_F(ButtonsTest, MissingOrClosedFifoNeitherSpinsNorEndsTheThread) {
    TempBoardRoot root;
    hdext::periph::set_buttons_retry_ms(50);
    app_buttons_init();
    const double cpu0 = cpu_seconds();
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    EXPECT_LT(cpu_seconds() - cpu0, 0.2) << "the key thread polls a missing device";

    std::filesystem::create_directories(root.host("/dev/input"));
    const std::string fifo = root.host("/dev/input/event0");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    for (int round = 0; round < 2; ++round) {  // the writer comes and goes
        int fd = -1;
        for (int i = 0; i < 100 && fd < 0; ++i) {
            fd = open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
            if (fd < 0) std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        ASSERT_GE(fd, 0) << "the key thread never opened the FIFO";
        write_events(fd, {ev(EV_KEY, kKeyMenu, 1), ev(EV_KEY, kKeyMenu, 0)});
        close(fd);
        for (int i = 0; i < 100 && osd_ids().size() < 2u * (round + 1); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        const double cpu1 = cpu_seconds();
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        EXPECT_LT(cpu_seconds() - cpu1, 0.15) << "the key thread spins on a FIFO without writer";
    }
    EXPECT_EQ(osd_ids(), (std::vector<uint32_t>{HMSG_USER_MENU_BUTTON, HMSG_USER_MENU_BUTTON_CLR,
                                                HMSG_USER_MENU_BUTTON, HMSG_USER_MENU_BUTTON_CLR}));
    unlink(fifo.c_str());  // leaves the thread retrying quietly for the rest of the run
}

} // namespace
} // namespace hdext::test
