// The listening side of a TX port (stream 9000, heartbeat 9990), owned by its acceptor thread.
// Set-up is retried until it works: a unit whose Wi-Fi interface does not exist yet listens
// once it does. Accept errors that persist (descriptors used up) pause the loop, 100 ms
// growing to 1 s, and are reported once when they begin and once when they end. A spare
// descriptor is kept so that, while none are left, each waiting connection can still be taken
// and closed at once instead of waiting in the backlog for a descriptor.
#pragma once
#include <netinet/in.h>

#include <chrono>
#include <cstdint>

#include "stream/limits.h"

namespace hdext::stream {

class Acceptor {
public:
    // Say functions print the port's own messages: a set-up step that failed ("socket",
    // "reuseaddr", "linger", "bind", "listen") with its errno, or an accept error's errno.
    using SayStep = void (*)(const char* step, int err);
    using SayError = void (*)(int err);

    Acceptor(const char* name, uint16_t port, SayStep say_step, SayError say_error)
        : m_name(name), m_port(port), m_sayStep(say_step), m_sayError(say_error) {}
    Acceptor(const Acceptor&) = delete;
    Acceptor& operator=(const Acceptor&) = delete;

    // Blocks until the port listens; the set-up failure is said once. Acceptor thread.
    void open();
    // The next connection, blocking (SOCK_CLOEXEC, blocking mode); never fails. Acceptor thread.
    int next(sockaddr_in* peer);

private:
    void shed_one();

    const char* m_name;
    uint16_t m_port;
    SayStep m_sayStep;
    SayError m_sayError;
    int m_listen = -1;
    int m_spare = -1;
    std::chrono::milliseconds m_pause{0};
    Episode m_exhausted;
    LogBrake m_transient;
};

} // namespace hdext::stream
