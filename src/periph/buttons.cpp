#include "periph/buttons.h"

#include <fcntl.h>
#include <linux/input.h>
#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <string>

#include "board/board.h"
#include "core/task.h"

namespace {
std::atomic<int> g_retry_ms{1000};
} // namespace

namespace hdext::periph {

void set_buttons_retry_ms(int ms) { g_retry_ms.store(ms, std::memory_order_relaxed); }

uint32_t button_message(uint16_t type, uint16_t code, int32_t value) {
    if (type == EV_SYN || (value != 0 && value != 1)) return 0;  // auto-repeat is 2
    uint32_t press = 0;
    switch (code) {
    case kKeyUp: press = HMSG_USER_UP_BUTTON; break;
    case kKeyDown: press = HMSG_USER_DOWN_BUTTON; break;
    case kKeyMenu: press = HMSG_USER_MENU_BUTTON; break;
    default: return 0;
    }
    return value == 1 ? press : press | 0x800;
}

void buttons_read_events(int fd) {
    input_event ev{};
    for (;;) {
        const ssize_t n = read(fd, &ev, sizeof ev);
        if (n < 0 && errno == EINTR) continue;
        if (n != static_cast<ssize_t>(sizeof ev)) return;
        if (uint32_t id = button_message(ev.type, ev.code, ev.value)) {
            MSG_INFO m{kButtonSender, kMidOsd, id, 0, nullptr};
            send_msg(&m);
        }
    }
}

} // namespace hdext::periph

// Read-write keeps a FIFO from reporting end-of-file when the world closes its end. A device
// that cannot be opened or read is retried after a pause instead of being polled in a loop.
void* pthread_buttons_handler(void*) {
    pthread_setname_np(pthread_self(), "buttons");
    std::printf("###### ###### buttons thread PID=%lX.\n", static_cast<unsigned long>(pthread_self()));
    bool reported = false;  // one complaint per stretch of failed opens
    for (;;) {
        const std::string dev = hdext::board::path(kButtonsDevice);
        const int fd = open(dev.c_str(), O_RDWR | O_CLOEXEC);
        if (fd < 0) {
            if (!reported) std::puts("buttons can't open!");
            reported = true;
        } else {
            reported = false;
            std::puts("buttons open success!");
            hdext::periph::buttons_read_events(fd);
            close(fd);
        }
        usleep(static_cast<useconds_t>(g_retry_ms.load(std::memory_order_relaxed)) * 1000);
    }
    return nullptr;
}

int app_buttons_init() {
    pthread_t t;
    if (pthread_create(&t, nullptr, pthread_buttons_handler, nullptr) == 0) pthread_detach(t);
    return 0;
}

int app_buttons_exit() { return 0; }
