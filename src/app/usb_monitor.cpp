#include "app/usb_monitor.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <string>
#include <thread>

#include "board/board.h"
#include "board/gpio.h"
#include "board/shell.h"
#include "core/dump_print.h"
#include "core/task.h"
#include "periph/app_status.h"
#include "periph/usb_state.h"
#include "settings/param_config.h"

namespace gpio = hdext::board::gpio;

namespace hdext {
namespace {

constexpr uint32_t kMonitorSender = 0x1000;
constexpr int kStickStatusByte = 5;
constexpr int32_t kStickRemoved = 0;
constexpr int32_t kStickInserted = 1;
constexpr const char* kMonitorSource = "../source/TaskInit";

bool stopped(const UsbMonitorOptions& opt) {
    return opt.stop && opt.stop->load(std::memory_order_relaxed);
}

void power_on() {
    gpio::set_value(kUsbPowerGpio, 1);
    UsbEn.store(1, std::memory_order_relaxed);
}

void power_off() {
    gpio::set_value(kUsbPowerGpio, 0);
    UsbEn.store(0, std::memory_order_relaxed);
    RtmpEn.store(0, std::memory_order_relaxed);
}

void stick_removed() {
    usb_detection_state.store(0, std::memory_order_relaxed);
    app_status[kStickStatusByte].store(0, std::memory_order_relaxed);
    system_cmd(("umount " + board::path("/mnt/")).c_str(), 10);
}

void stick_inserted(const UsbMonitorOptions& opt) {
    std::this_thread::sleep_for(opt.stick_settle);
    system_cmd(("mount /dev/sda1 " + board::path("/mnt/")).c_str(), 10);
    app_status[kStickStatusByte].store(1, std::memory_order_relaxed);
    if (access(board::path("/mnt/reset.ini").c_str(), F_OK) == 0 && opt.factory_reset) opt.factory_reset();
}

// 1 when a state was read, 0 when the wait ran out, -1 on a failed read.
int read_state(int fd, int poll_ms, int32_t* state) {
    pollfd p{fd, POLLIN, 0};
    int r = ::poll(&p, 1, poll_ms);
    if (r == 0 || (r < 0 && errno == EINTR)) return 0;
    if (r < 0) return -1;
    return ::read(fd, state, sizeof *state) == static_cast<ssize_t>(sizeof *state) ? 1 : -1;
}

} // namespace

int request_factory_reset() {
    int32_t zero = 0;
    MSG_INFO msg{kMonitorSender, 0x2000, kMsgParamFactoryReset, sizeof zero, &zero};
    return send_msg(&msg);
}

int usb_port_monitor(const UsbMonitorOptions& opt) {
    if (!gpio::exported(kUsbPowerGpio)) {
        gpio::export_line(kUsbPowerGpio);
        gpio::set_direction(kUsbPowerGpio, "out");
        gpio::set_value(kUsbPowerGpio, 0);
    }
    if (!gpio::exported(kUsbSenseGpio)) {
        gpio::export_line(kUsbSenseGpio);
        gpio::set_direction(kUsbSenseGpio, "in");
        gpio::set_edge(kUsbSenseGpio, "both");
    }
    gpio::EdgeWatch sense(kUsbSenseGpio);
    int fd = sense.open();
    if (fd < 0) {
        printf("%s open failure. fd=%d\n", "monitor_usb_detection_handler", fd);
        return -1;
    }
    if (sense.level() == 0)
        power_on();
    else
        power_off();
    int armed = sense.arm();
    if (armed < 0) {
        if (debug_level.load(std::memory_order_relaxed) >= 1) {
            if (armed == -1)
                dump_print(kMonitorSource, __LINE__, __func__, "epoll_create dc detection error = %d\n", errno);
            else
                dump_print(kMonitorSource, __LINE__, __func__, "epoll_ctl dc detection : add fd error = %d\n", errno);
        }
        return -1;
    }
    while (!stopped(opt)) {
        // A time-out re-reads the level as well, so an edge lost by the watch is still seen.
        if (sense.wait(opt.poll_ms) < 0) std::this_thread::sleep_for(std::chrono::milliseconds(opt.poll_ms));
        int level = sense.level();
        bool powered = UsbEn.load(std::memory_order_relaxed) != 0;
        if (level == 1 && powered)
            power_off();
        else if (level == 0 && !powered)
            power_on();
    }
    return 0;
}

int usb_stick_monitor(const UsbMonitorOptions& opt) {
    int fd = ::open(board::path("/dev/detected_usb").c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        perror("open /dev/detected_usb");
        return -1;
    }
    while (!stopped(opt)) {
        int32_t state = -1;
        int r = read_state(fd, opt.poll_ms, &state);
        if (r == 0) continue;
        if (r < 0) {
            perror("GetUsbState Fail to read");
            // A device that keeps failing must not turn this into a busy loop.
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            continue;
        }
        DUMP(3, "usb state: %d", state);
        if (state == kStickRemoved)
            stick_removed();
        else if (state == kStickInserted)
            stick_inserted(opt);
    }
    ::close(fd);
    return 0;
}

} // namespace hdext

void* monitor_usb_detection_handler(void*) {
    printf("###### ###### monitor_usb_detection_handler thread PID=%X.\n", static_cast<unsigned>(pthread_self()));
    hdext::usb_port_monitor(hdext::UsbMonitorOptions{});
    return nullptr;
}

void* monitor_usb_mount_handler(void*) {
    printf("###### ###### monitor_usb_mount_handler thread PID=%X.\n", static_cast<unsigned>(pthread_self()));
    hdext::usb_stick_monitor(hdext::UsbMonitorOptions{});
    return nullptr;
}
