// What a peer can make the TX spend, bounded: log lines, thread starts, the connections that
// have not yet sent their first message, pairing threads.
#pragma once
#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>

namespace hdext::stream {

// Connections on the heartbeat port still waiting for their first message.
inline constexpr int kPendingMax = 64;
inline constexpr int kPendingPerAddress = 4;
// PIN pairing threads of companion apps (one place of them kept for an address without a
// recent wrong PIN).
inline constexpr int kPairingMax = 4;
inline constexpr int kPairingPerAddress = 1;
// Wrong PINs in a row, from any address, before the brake across all addresses engages.
inline constexpr int kPinBrakeAfter = 3;
// Wrong PINs that end an app's pairing connection.
inline constexpr int kPairingMisses = 3;

// Lets a repeated line through in a burst, then one per interval; the lines held back are
// counted, and the next line that goes out is preceded by how many. Any thread.
class LogBrake {
public:
    explicit LogBrake(int burst = 5, std::chrono::milliseconds every = std::chrono::seconds(1))
        : m_burst(burst), m_every(every), m_tokens(burst) {}
    // True when a line may go out now (the count held back, if any, is printed first).
    bool pass();

private:
    std::mutex m_lock;
    const int m_burst;
    const std::chrono::milliseconds m_every;
    double m_tokens;
    std::chrono::steady_clock::time_point m_last{};
    unsigned m_held = 0;
};

// A condition reported once when it begins and once when it ends. Any thread.
class Episode {
public:
    bool begin() { return !m_on.exchange(true); } // true only for the first call of an episode
    bool end() { return m_on.exchange(false); }   // true when an episode was running
private:
    std::atomic<bool> m_on{false};
};

// Channel changes announced by receivers, for the whole kit: each moves the access point under
// every receiver, so at most one is taken per pause. One asked for sooner is held back, and
// the newest held request is taken once the pause is over. Any thread.
class ChannelGate {
public:
    using Clock = std::chrono::steady_clock;
    explicit ChannelGate(std::chrono::milliseconds pause) : m_pause(pause) {}
    struct Verdict {
        int take = 0;       // the channel to move to now; 0 for none
        bool held = false;  // the request was held back, the first one of this pause
    };
    // `asked`: a receiver's request (0 for none); `current`: the channel in use. Asking for
    // the current channel drops a held request.
    Verdict offer(int asked, int current, Clock::time_point now);

private:
    std::mutex m_lock;
    const std::chrono::milliseconds m_pause;
    Clock::time_point m_next{};
    int m_held = 0;
    bool m_said = false;
};

// Starts a detached thread. When the system refuses, says so (once until a start works again)
// and runs `undo`, which gives back what was handed to the thread. True when it started.
bool start_thread_or(void* (*fn)(void*), void* arg, const char* what, const std::function<void()>& undo);

} // namespace hdext::stream
