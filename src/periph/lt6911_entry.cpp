#include <pthread.h>

#include <cstdio>
#include <mutex>

#include "periph/lt6911.h"

// The process-wide detector on the board's bus 0, driving the real capture pipeline.
namespace hdext {
namespace {

Lt6911Detector* g_detector = nullptr;
std::once_flag g_detector_once;

Lt6911Detector& detector() {
    std::call_once(g_detector_once, [] {
        g_detector = new Lt6911Detector(board::i2c_bus(kLt6911I2cBus), default_capture_pipeline());
    });
    return *g_detector;
}

void* ListenVideoInputProc(void*) {
    std::printf("###### ###### ListenVideoInputProc thread PID=%X.\n",
                static_cast<unsigned>(pthread_self()));
    static const std::atomic<bool> never{false};
    static std::atomic<int> runs{0};
    lt6911_listen(detector(), "/dev/lt6911", kLt6911ListenTimeoutMs, never, runs);
    return nullptr;
}

} // namespace
} // namespace hdext

int Lt6911Create() {
    hdext::detector();
    pthread_t tid;
    int r = pthread_create(&tid, nullptr, hdext::ListenVideoInputProc, nullptr);
    if (r == 0) pthread_detach(tid);
    return 0;
}

void lt6911_handler(int) { hdext::detector().run_sequence(); }
void LT6911UXC_HDMI_VideoCheck() { hdext::detector().video_check(); }
uint32_t hdmi_clock_6911UXC() { return hdext::detector().measure_clock(); }
uint8_t lt6911_i2c_read(uint8_t bank, uint8_t reg) { return hdext::detector().read(bank, reg); }
void get_6911_Audio() { hdext::detector().recheck_audio(); }
