#include "board/notify.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <sstream>

#include "board/board.h"

namespace hdext::board {
namespace {

constexpr uint32_t kSdiNoSignal = 0x1D;

// Drains whatever is readable on fd without blocking; returns the byte count (-1 on error).
int drain(int fd) {
    int total = 0;
    char buf[64];
    for (;;) {
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n > 0) {
            total += static_cast<int>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN) return total ? total : -1;
        return total;
    }
}

int wait_readable(int fd, int timeout_ms) {
    pollfd p{fd, POLLIN, 0};
    int r;
    do {
        r = ::poll(&p, 1, timeout_ms);
    } while (r < 0 && errno == EINTR);
    if (r <= 0) return r;
    return drain(fd);
}

class FifoNotifier final : public ChangeNotifier {
public:
    explicit FifoNotifier(int fd) : fd_(fd) {}
    ~FifoNotifier() override { ::close(fd_); }
    int wait(int timeout_ms) override { return wait_readable(fd_, timeout_ms); }

private:
    int fd_;
};

// The SIGIO handler only wakes the listener through a pipe; the work runs on its thread.
int g_sigio_pipe[2] = {-1, -1};

void on_sigio(int) {
    int saved = errno;
    char b = 1;
    (void)!::write(g_sigio_pipe[1], &b, 1);
    errno = saved;
}

bool install_sigio_wakeup() {
    static std::once_flag once;
    static bool ok = false;
    std::call_once(once, [] {
        if (::pipe2(g_sigio_pipe, O_NONBLOCK | O_CLOEXEC) < 0) return;
        struct sigaction sa {};
        sa.sa_handler = on_sigio;
        sigemptyset(&sa.sa_mask);
        sa.sa_flags = SA_RESTART;
        ok = sigaction(SIGIO, &sa, nullptr) == 0;
    });
    return ok;
}

class SigioNotifier final : public ChangeNotifier {
public:
    explicit SigioNotifier(int dev_fd) : dev_fd_(dev_fd) {}
    ~SigioNotifier() override { ::close(dev_fd_); }
    int wait(int timeout_ms) override { return wait_readable(g_sigio_pipe[0], timeout_ms); }

private:
    int dev_fd_; // kept open: closing it would end the notifications
};

} // namespace

std::unique_ptr<ChangeNotifier> open_fifo_notifier(const std::string& fifo_path) {
    // Read-write so the FIFO never reports end-of-file between two writers.
    int fd = ::open(fifo_path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return nullptr;
    return std::make_unique<FifoNotifier>(fd);
}

std::unique_ptr<ChangeNotifier> open_sigio_notifier(const std::string& dev_path) {
    if (!install_sigio_wakeup()) return nullptr;
    int fd = ::open(dev_path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) return nullptr;
    if (fcntl(fd, F_SETOWN, getpid()) < 0 ||
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_ASYNC) < 0) {
        int saved = errno;
        ::close(fd);
        errno = saved;
        return nullptr;
    }
    return std::make_unique<SigioNotifier>(fd);
}

std::unique_ptr<ChangeNotifier> open_change_notifier(const char* dev_path) {
    if (simulated()) return open_fifo_notifier(path(dev_path));
    return open_sigio_notifier(dev_path);
}

bool parse_sdi_answer(const std::string& text, uint32_t* word) {
    std::istringstream in(text);
    std::string line;
    bool found = false;
    while (std::getline(in, line)) {
        char* end = nullptr;
        unsigned long v = std::strtoul(line.c_str(), &end, 16);
        if (end == line.c_str()) continue;
        *word = static_cast<uint32_t>(v);
        found = true;
    }
    return found;
}

bool sdi_query(uint32_t* word) {
    if (simulated()) {
        std::ifstream in(path("/sim/sdi-in"));
        std::string text;
        if (in) std::getline(in, text);
        char* end = nullptr;
        unsigned long code = std::strtoul(text.c_str(), &end, 16);
        if (!in || text.rfind("none", 0) == 0 || end == text.c_str()) code = kSdiNoSignal;
        *word = static_cast<uint32_t>(code) << 8;
        return true;
    }
    const std::string proc = path("/proc/gs2971");
    {
        std::ofstream req(proc);
        req << "8006 0x0 0\n";
    }
    std::ifstream in(proc);
    if (!in) {
        std::perror("Fail to popen\n");
        return false;
    }
    std::stringstream all;
    all << in.rdbuf();
    return parse_sdi_answer(all.str(), word);
}

} // namespace hdext::board
