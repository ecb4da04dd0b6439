#include "board/gpio_edge.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>

#include "board/board.h"
#include "board/gpio.h"

namespace hdext::board::gpio {
namespace {

class SysfsEdgeWaiter final : public EdgeWaiter {
public:
    SysfsEdgeWaiter(int fd, int ep) : fd_(fd), ep_(ep) {}
    ~SysfsEdgeWaiter() override {
        close(ep_);
        close(fd_);
    }
    int wait(int timeout_ms) override {
        epoll_event ev{};
        const int n = epoll_wait(ep_, &ev, 1, timeout_ms);
        if (n <= 0) return n < 0 && errno != EINTR ? -1 : 0;
        char buf[16];
        lseek(fd_, 0, SEEK_SET);  // re-arm: the edge is consumed by reading the value
        (void)!read(fd_, buf, sizeof buf);
        return 1;
    }

private:
    int fd_, ep_;
};

class InotifyEdgeWaiter final : public EdgeWaiter {
public:
    explicit InotifyEdgeWaiter(int fd) : fd_(fd) {}
    ~InotifyEdgeWaiter() override { close(fd_); }
    int wait(int timeout_ms) override {
        pollfd p{fd_, POLLIN, 0};
        const int n = poll(&p, 1, timeout_ms);
        if (n <= 0) return n < 0 && errno != EINTR ? -1 : 0;
        char buf[4096];
        return read(fd_, buf, sizeof buf) > 0 ? 1 : -1;
    }

private:
    int fd_;
};

} // namespace

std::unique_ptr<EdgeWaiter> open_edge_waiter(int n) {
    const std::string value = path(line_path(n) + "/value");
    if (simulated()) {
        const int fd = inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
        if (fd < 0) return nullptr;
        if (inotify_add_watch(fd, value.c_str(), IN_CLOSE_WRITE | IN_MODIFY) < 0) {
            close(fd);
            return nullptr;
        }
        return std::make_unique<InotifyEdgeWaiter>(fd);
    }
    const int fd = open(value.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return nullptr;
    const int ep = epoll_create1(EPOLL_CLOEXEC);
    epoll_event ev{};
    ev.events = EPOLLPRI | EPOLLERR;
    if (ep < 0 || epoll_ctl(ep, EPOLL_CTL_ADD, fd, &ev) < 0) {
        if (ep >= 0) close(ep);
        close(fd);
        return nullptr;
    }
    return std::make_unique<SysfsEdgeWaiter>(fd, ep);
}

} // namespace hdext::board::gpio
