#include "periph/battery.h"

#include <pthread.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>

#include "board/board.h"
#include "board/gpio.h"
#include "board/shell.h"
#include "core/dump_print.h"
#include "periph/app_status.h"

std::atomic<int32_t> dc_detection_level_state{-1};

namespace {

std::mutex g_battery_lock;
// Filter state: last accepted reading, last level, count of persisting large changes.
int g_last_reading = -1, g_last_level = -1, g_change_count = -1;
uint8_t g_alert = 0;
std::atomic<int> g_dc_poll_ms{2000};

bool is_rx() { return app_status[0].load(std::memory_order_relaxed) == 1; }
int gauge_bus() { return is_rx() ? 1 : 0; }
int dc_line() { return is_rx() ? 55 : 2; }

// The two hex digits after "0x" on the command's last output line ("" when it printed none).
std::string register_digits(const std::string& cmd) {
    auto pipe = hdext::board::shell()->open(cmd);
    if (!pipe) {
        std::perror("Fail to popen\n");
        return "";
    }
    char buf[128];
    std::string last;
    while (pipe->gets(buf, sizeof buf)) last = buf;
    pipe->close();
    const auto at = last.find("0x");
    return at == std::string::npos ? "" : last.substr(at + 2, 2);
}

void set_led_pair(bool alert) {
    namespace gpio = hdext::board::gpio;
    if (is_rx()) {
        gpio::set_value(95, alert ? 1 : 0);
        gpio::set_value(96, alert ? 0 : 1);
    } else {
        gpio::set_value(0, alert ? 0 : 1);
        gpio::set_value(1, alert ? 1 : 0);
    }
}

int accept(int reading, int level) {
    g_last_reading = reading;
    g_last_level = level;
    g_change_count = 0;
    return level;
}

} // namespace

namespace hdext::periph {

int battery_level_for(int r) {
    if (r > 12800) return 5;
    if (r >= 12601) return 4;
    if (r >= 12401) return 3;
    if (r >= 12201) return 2;
    if (r >= 11801) return 1;
    if (r >= 11001) return 0;
    return 6;
}

void set_dc_poll_interval(std::chrono::milliseconds ms) {
    g_dc_poll_ms.store(static_cast<int>(ms.count()), std::memory_order_relaxed);
}

void start_dc_detection_thread() {
    pthread_t t;
    if (pthread_create(&t, nullptr, monitor_gpio_dc_detection_level_handler, nullptr) == 0)
        pthread_detach(t);
}

} // namespace hdext::periph

int app_battery_low_power_gpio_init() {
    const int bus = gauge_bus();
    for (const char* v : {"0x30", "0x00", "0xF0", "0x30", "0x00"}) {
        char cmd[64];
        std::snprintf(cmd, sizeof cmd, "i2cset -f -y %d 0x64 0x08 %s", bus, v);
        system_cmd(cmd);
    }
    return 0;
}

int app_battery_low_power_gpio_handler(int arg) {
    std::lock_guard<std::mutex> g(g_battery_lock);
    if (arg == 1) {
        g_last_reading = g_last_level = g_change_count = -1;
        return -1;
    }
    char cmd[64];
    std::string hex;
    for (const char* reg : {"0x02", "0x03"}) {
        std::snprintf(cmd, sizeof cmd, "i2cget -f -y %d 0x64 %s", gauge_bus(), reg);
        hex += register_digits(cmd);
    }
    const int r = static_cast<int>(std::strtol(hex.c_str(), nullptr, 16));
    const int level = hdext::periph::battery_level_for(r);

    if (r <= 1 && !g_alert) {
        g_alert = 1;
        set_led_pair(true);
    } else if (r > 1 && g_alert) {
        g_alert = 0;
        set_led_pair(false);
    }

    if (g_last_reading == -1 || g_last_level == -1) return accept(r, level);
    if (r > g_last_reading && level > g_last_level) {  // a rising level is not shown
        g_change_count = 0;
        return g_last_level;
    }
    if (std::abs(r - g_last_reading) <= 5) return accept(r, level);
    if (g_change_count++ > 4) return accept(r, level);  // the change persisted
    return g_last_level;
}

int app_battery_low_power_gpio_exit() { return 0; }

int app_gpio_dc_detection_export() {
    namespace gpio = hdext::board::gpio;
    const int n = dc_line();
    if (gpio::exported(n)) return 0;
    gpio::export_line(n);
    gpio::set_direction(n, "in");
    return gpio::set_edge(n, "both");
}

int app_gpio_dc_detection_unexport() {
    return hdext::board::write_file("/sys/class/gpio/unexport", std::to_string(dc_line()));
}

// Reads go through the watch itself: the edge event stays pending until its own descriptor is
// read, so reading the line any other way would turn the wait into a busy loop.
int hdext::periph::dc_detection(const std::atomic<bool>* stop) {
    app_gpio_dc_detection_export();
    hdext::board::gpio::EdgeWatch line(dc_line());
    const int fd = line.open();
    if (fd < 0) {
        std::printf("%s open failure. fd=%d\n", "monitor_gpio_dc_detection_level_handler", fd);
        return -1;
    }
    bool was_zero = false;
    auto apply = [&](int v) {
        if (v == 1 && was_zero) {
            dc_detection_level_state.store(1, std::memory_order_relaxed);
            was_zero = false;
        } else if (v == 0 && !was_zero) {
            dc_detection_level_state.store(0, std::memory_order_relaxed);
            was_zero = true;
        }
    };
    const int first = line.level();
    if (first == 1) dc_detection_level_state.store(1, std::memory_order_relaxed);
    if (first == 0) {
        dc_detection_level_state.store(0, std::memory_order_relaxed);
        was_zero = true;
    }
    const int armed = line.arm();
    if (armed == -1) DUMP(1, "epoll_create dc detection error = %d\n", errno);
    if (armed == -2) DUMP(1, "epoll_ctl dc detection : add fd error = %d\n", errno);
    if (armed != 0) return -1;
    while (!stop || !stop->load(std::memory_order_relaxed)) {
        if (is_rx()) {
            apply(line.level());
            usleep(static_cast<useconds_t>(g_dc_poll_ms.load(std::memory_order_relaxed)) * 1000);
        } else if (line.wait(stop ? 100 : -1) >= 0) {
            apply(line.level());
        } else {
            usleep(100 * 1000);  // a failing wait must not spin
        }
    }
    return 0;
}

void* monitor_gpio_dc_detection_level_handler(void*) {
    pthread_setname_np(pthread_self(), "dc_detect");
    hdext::periph::dc_detection(nullptr);
    return nullptr;
}
