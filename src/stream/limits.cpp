#include "stream/limits.h"

#include <pthread.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

#include "stream/stream_config.h"

namespace hdext::stream {

bool LogBrake::pass() {
    unsigned held;
    {
        std::lock_guard<std::mutex> g(m_lock);
        const auto now = std::chrono::steady_clock::now();
        if (m_last != std::chrono::steady_clock::time_point{})
            m_tokens = std::min<double>(m_burst, m_tokens + std::chrono::duration<double>(now - m_last) /
                                                                std::chrono::duration<double>(m_every));
        m_last = now;
        if (m_tokens < 1) {
            ++m_held;
            return false;
        }
        m_tokens -= 1;
        held = m_held;
        m_held = 0;
    }
    if (held) std::printf("(%u more lines like the next one held back)\n", held);
    return true;
}

ChannelGate::Verdict ChannelGate::offer(int asked, int current, Clock::time_point now) {
    std::lock_guard<std::mutex> g(m_lock);
    if (!asked && m_held && now >= m_next) std::swap(asked, m_held);
    if (!asked) return {};
    if (asked == current) {
        m_held = 0; // the newest request is the channel in use: nothing to move
        return {};
    }
    if (now < m_next) {
        m_held = asked;
        const bool first = !m_said;
        m_said = true;
        return {0, first};
    }
    m_next = now + m_pause;
    m_said = false;
    return {asked, false};
}

bool start_thread_or(void* (*fn)(void*), void* arg, const char* what, const std::function<void()>& undo) {
    static Episode refused;
    int err = EAGAIN;
    pthread_t t;
    const bool fake_refusal = hooks().thread_refused && hooks().thread_refused(what);
    if (!fake_refusal && (err = pthread_create(&t, nullptr, fn, arg)) == 0) {
        pthread_detach(t);
        if (refused.end()) std::printf("threads start again (%s)\n", what);
        return true;
    }
    if (refused.begin()) std::printf("cannot start a %s thread: %s; its connection is closed\n", what, strerror(err));
    undo();
    return false;
}

} // namespace hdext::stream
