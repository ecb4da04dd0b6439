// Waiting for a GPIO input's edges. On a unit the line's sysfs value file raises a priority
// event (EPOLLPRI) per edge once its "edge" file is set; on a simulated board the value file is
// a plain file and a write to it (inotify) stands for an edge. One waiting thread per waiter.
#pragma once
#include <memory>

namespace hdext::board::gpio {

class EdgeWaiter {
public:
    virtual ~EdgeWaiter() = default;
    // Blocks up to timeout_ms (-1 = no limit). 1 after an edge, 0 on time-out, -1 on error.
    virtual int wait(int timeout_ms) = 0;
};

// Watches line n's value file; null when the file or the wait cannot be set up (errno set).
std::unique_ptr<EdgeWaiter> open_edge_waiter(int n);

} // namespace hdext::board::gpio
