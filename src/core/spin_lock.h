// A small lock for critical sections of a few pointer moves (pool free lists, frame and
// message queues): one atomic exchange per use where a mutex costs two or more. Contended
// waiters spin briefly, then yield the processor. Any thread; never held across a call out.
#pragma once
#include <sched.h>

#include <atomic>

class SpinLock {
public:
    void lock() noexcept {
        while (m_held.exchange(true, std::memory_order_acquire)) {
            for (int spin = 0; m_held.load(std::memory_order_relaxed); ++spin)
                if (spin > kSpinsBeforeYield) sched_yield();
        }
    }
    bool try_lock() noexcept { return !m_held.exchange(true, std::memory_order_acquire); }
    void unlock() noexcept { m_held.store(false, std::memory_order_release); }

private:
    static constexpr int kSpinsBeforeYield = 64;
    std::atomic<bool> m_held{false};
};
