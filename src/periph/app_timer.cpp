#include "periph/app_timer.h"

#include <pthread.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>

namespace {

std::atomic<int> g_speedup{1};
std::atomic<bool> g_manual{false};

// One periodic timer: a thread that sleeps to the next expiry and calls the handler. The
// handler is never called after unregistering returns.
class IntervalTimer {
public:
    explicit IntervalTimer(int signo) : signo_(signo) {}

    void start(int code, app_timer_handler h) {
        stop();
        const auto period = std::chrono::milliseconds(code == 500 ? 500 : code == 30 ? 30000 : 1000) /
                            g_speedup.load(std::memory_order_relaxed);
        std::lock_guard<std::mutex> g(mu_);
        handler_.store(h);
        stop_ = false;
        if (!g_manual.load()) thread_ = std::thread([this, h, period] { run(h, period); });
    }

    void stop() {
        std::thread t;
        {
            std::lock_guard<std::mutex> g(mu_);
            stop_ = true;
            t = std::move(thread_);
            handler_.store(nullptr);
        }
        cv_.notify_all();
        if (t.joinable() && t.get_id() != std::this_thread::get_id()) t.join();
        else if (t.joinable()) t.detach();  // a handler that stops its own timer
    }

    app_timer_handler current() const { return handler_.load(); }
    int signo() const { return signo_; }

private:
    void run(app_timer_handler h, std::chrono::milliseconds period) {
        pthread_setname_np(pthread_self(), signo_ == 10 ? "app_timer" : "app_timer_2");
        auto next = std::chrono::steady_clock::now() + period;
        std::unique_lock<std::mutex> lk(mu_);
        while (!stop_) {
            if (cv_.wait_until(lk, next, [this] { return stop_; })) break;
            next += period;
            lk.unlock();
            h(signo_);
            lk.lock();
        }
    }

    int signo_;
    std::mutex mu_;
    std::condition_variable cv_;
    bool stop_ = true;
    std::thread thread_;
    std::atomic<app_timer_handler> handler_{nullptr};
};

IntervalTimer& timer(int slot) {
    static IntervalTimer* t[2] = {new IntervalTimer(10), new IntervalTimer(12)};
    return *t[slot];
}

int do_register(int slot, int code, app_timer_handler h) {
    if (!h) {
        std::puts("[DemoLib - Timer] Timer handler is NULL");
        return -1;
    }
    h(1);
    timer(slot).start(code, h);
    return 0;
}

int do_unregister(int slot, app_timer_handler h) {
    if (!h) {
        std::puts("[DemoLib - Timer] Timer handler is NULL");
        return -1;
    }
    h(2);
    timer(slot).stop();
    return 0;
}

} // namespace

namespace hdext::periph {
app_timer_handler app_timer_current(int slot) { return timer(slot).current(); }
void set_app_timer_speedup(int f) { g_speedup.store(f > 0 ? f : 1, std::memory_order_relaxed); }
void set_app_timer_manual(bool manual) { g_manual.store(manual); }
void app_timer_fire(int slot) {
    if (auto h = timer(slot & 1).current()) h(timer(slot & 1).signo());
}
} // namespace hdext::periph

int app_timer_register(int code, app_timer_handler h) { return do_register(0, code, h); }
int app_timer_register_2(int code, app_timer_handler h) { return do_register(1, code, h); }
int app_timer_unregister(int, app_timer_handler h) { return do_unregister(0, h); }
int app_timer_unregister_2(int, app_timer_handler h) { return do_unregister(1, h); }
int app_timer_unregister_all() { return 0; }
