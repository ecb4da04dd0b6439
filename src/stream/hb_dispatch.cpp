// TX heartbeat dispatcher: one thread reads the first message of every connection that owes
// it, with a deadline for the whole message, so a peer that trickles bytes or just holds a
// connection open costs one descriptor for a bounded time and no thread.
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <vector>

#include "core/dump_print.h"
#include "stream/heartbeat.h"
#include "stream/limits.h"
#include "stream/stream_config.h"
#include "stream/stream_net.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace hdext::stream;

struct Waiting {
    int fd;
    uint32_t addr;
    CSender* slots;
    Clock::time_point deadline;
    int got;
    uint8_t msg[hb::kLen];
};

// Connections handed over by the acceptor, not yet taken by the dispatcher.
struct Inbox {
    std::mutex lock;
    std::condition_variable taken;
    std::vector<HB_CONN_ARG> items;
    int wake = -1; // eventfd
    bool running = false;
};

// Handed over but not yet taken: past this the acceptor waits (the kernel's backlog holds the
// rest), so descriptors stay within kPendingMax plus this.
constexpr size_t kInboxMax = 16;

Inbox& inbox() {
    static auto* in = new Inbox; // used by the detached dispatcher until exit
    return *in;
}

// Starts the dispatcher once; false when it cannot run. Under the inbox lock.
bool dispatcher_running(Inbox& in) {
    if (in.running) return true;
    if (in.wake < 0) in.wake = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (in.wake < 0) return false;
    in.running = start_thread_or(judge_device_info, nullptr, "judge_device_info", [] {});
    return in.running;
}

void close_waiting(const Waiting& w, LogBrake& brake, const char* why) {
    if (brake.pass()) std::printf("hb connection of %s closed: %s\n", address_text(w.addr).c_str(), why);
    t_socket_shutdown(w.fd, SHUT_RDWR);
}

// Takes a new connection in under the caps: the address's own count first, then the total,
// where the connection waiting longest gives way.
void admit(std::vector<Waiting>& waiting, const HB_CONN_ARG& c) {
    static LogBrake per_address, total;
    const auto same = std::count_if(waiting.begin(), waiting.end(), [&](const Waiting& w) { return w.addr == c.addr; });
    if (same >= kPendingPerAddress) {
        close_waiting(Waiting{c.fd, c.addr, c.slots, {}, 0, {}}, per_address,
                      "too many of its connections owe their first message");
        return;
    }
    if (static_cast<int>(waiting.size()) >= kPendingMax) {
        close_waiting(waiting.front(), total, "waited longest while too many owe their first message");
        waiting.erase(waiting.begin());
    }
    waiting.push_back(Waiting{c.fd, c.addr, c.slots, Clock::now() + config().first_message, 0, {}});
}

// Reads what arrived: true while the connection still owes part of its message.
bool read_some(Waiting& w) {
    const ssize_t r = recv(w.fd, w.msg + w.got, static_cast<size_t>(hb::kLen - w.got), MSG_DONTWAIT);
    if (r < 0) return errno == EAGAIN || errno == EINTR;
    if (r == 0) return false;
    w.got += static_cast<int>(r);
    return w.got < hb::kLen;
}

} // namespace

namespace hdext::stream {

void await_first_message(int fd, uint32_t addr, CSender* slots) {
    static LogBrake busy;
    Inbox& in = inbox();
    {
        // A dispatcher behind with its work holds the acceptor back (the kernel's backlog
        // takes the rest) for a while, not for ever.
        std::unique_lock<std::mutex> g(in.lock);
        if (dispatcher_running(in) && in.taken.wait_for(g, std::chrono::seconds(1), [&] {
                return in.items.size() < kInboxMax;
            })) {
            in.items.push_back(HB_CONN_ARG{fd, addr, slots});
            const uint64_t one = 1;
            if (write(in.wake, &one, sizeof one) < 0) {
                // Counter full: the dispatcher has a wake-up pending anyway.
            }
            return;
        }
    }
    refuse(fd, busy, "hb connection closed: the dispatcher is not taking connections\n");
}

} // namespace hdext::stream

void* judge_device_info(void*) {
    pthread_setname_np(pthread_self(), "judge_device");
    std::printf("###### ###### start judge_device_info thread PID=%lX.\n", thread_id());
    static LogBrake late;
    Inbox& in = inbox();
    std::vector<Waiting> waiting;
    std::vector<HB_CONN_ARG> arrived;
    std::vector<pollfd> fds;
    for (;;) {
        fds.assign(1, pollfd{in.wake, POLLIN, 0});
        Clock::time_point first = Clock::time_point::max();
        for (const Waiting& w : waiting) {
            fds.push_back(pollfd{w.fd, POLLIN, 0});
            first = std::min(first, w.deadline);
        }
        int wait_ms = -1;
        if (!waiting.empty())
            wait_ms = static_cast<int>(std::max<int64_t>(
                0, std::chrono::ceil<std::chrono::milliseconds>(first - Clock::now()).count()));
        if (poll(fds.data(), fds.size(), wait_ms) < 0 && errno != EINTR) sleep_for(std::chrono::milliseconds(10));
        const Clock::time_point now = Clock::now();
        size_t keep = 0;
        for (size_t i = 0; i < waiting.size(); ++i) {
            Waiting& w = waiting[i];
            const bool owes = fds[i + 1].revents ? read_some(w) : true;
            if (w.got == hb::kLen) {
                judge_first_message(w.fd, w.addr, w.slots, w.msg);
            } else if (!owes) {
                t_socket_shutdown(w.fd, SHUT_RDWR);
            } else if (now >= w.deadline) {
                close_waiting(w, late, "its first message did not come in time");
            } else {
                if (keep != i) waiting[keep] = w;
                ++keep;
            }
        }
        waiting.resize(keep);
        if (fds[0].revents) {
            uint64_t n;
            if (read(in.wake, &n, sizeof n) < 0) {
                // Nothing counted: another wake-up took it.
            }
            std::lock_guard<std::mutex> g(in.lock);
            arrived.swap(in.items);
            in.taken.notify_one();
        }
        for (const HB_CONN_ARG& c : arrived) admit(waiting, c);
        arrived.clear();
    }
}
