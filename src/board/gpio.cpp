#include "board/gpio.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <mutex>

#include "board/board.h"

namespace hdext::board {
namespace {

std::mutex g_log_lock;
std::atomic<unsigned long> g_edge_wakeups{0};

void log_write(std::string_view board_path, std::string_view text) {
    std::string line(board_path);
    line.push_back(' ');
    line.append(text);
    line.push_back('\n');
    std::lock_guard<std::mutex> g(g_log_lock);
    std::error_code ec;
    std::filesystem::create_directories(path("/sim"), ec);
    int fd = ::open(path("/sim/gpio.log").c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) return;
    ssize_t n = ::write(fd, line.data(), line.size());
    (void)n;
    ::close(fd);
}

// A simulated board has plain files where a unit has sysfs/procfs: create what a kernel
// would have provided.
void sim_prepare(std::string_view board_path, std::string_view text) {
    std::error_code ec;
    std::filesystem::path host(path(board_path));
    std::filesystem::create_directories(host.parent_path(), ec);
    if (board_path == "/sys/class/gpio/export") {
        std::string dir = path(gpio::line_path(std::stoi(std::string(text))));
        if (!std::filesystem::exists(dir, ec)) {
            std::filesystem::create_directories(dir, ec);
            for (const char* f : {"/direction", "/value"}) {
                FILE* fp = fopen((dir + f).c_str(), "w");
                if (fp) {
                    fputs(f[1] == 'd' ? "in\n" : "0\n", fp);
                    fclose(fp);
                }
            }
        }
    }
}

} // namespace

int write_file(std::string_view board_path, std::string_view text) {
    const bool sim = simulated();
    if (sim) {
        try {
            sim_prepare(board_path, text);
        } catch (const std::exception&) {
            // An export value that is not a number: the write below still goes ahead.
        }
    }
    int flags = O_WRONLY | O_CLOEXEC | (sim ? O_CREAT | O_TRUNC : 0);
    int fd = ::open(path(board_path).c_str(), flags, 0644);
    if (fd < 0) return -1;
    std::string line(text);
    line.push_back('\n');
    ssize_t n = ::write(fd, line.data(), line.size());
    ::close(fd);
    if (sim) log_write(board_path, text);
    return n == static_cast<ssize_t>(line.size()) ? 0 : -1;
}

namespace gpio {

std::string line_path(int n) { return "/sys/class/gpio/gpio" + std::to_string(n); }

int export_line(int n) { return write_file("/sys/class/gpio/export", std::to_string(n)); }

int set_direction(int n, std::string_view dir) { return write_file(line_path(n) + "/direction", dir); }

int set_edge(int n, std::string_view edge) { return write_file(line_path(n) + "/edge", edge); }

int set_value(int n, int value) { return write_file(line_path(n) + "/value", std::to_string(value)); }

int get_value(int n) {
    int fd = ::open(path(line_path(n) + "/value").c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return -1;
    char c = 0;
    ssize_t r = ::read(fd, &c, 1);
    ::close(fd);
    if (r != 1 || (c != '0' && c != '1')) return -1;
    return c - '0';
}

bool exported(int n) {
    struct stat st {};
    return ::stat(path(line_path(n)).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

EdgeWatch::~EdgeWatch() {
    if (m_wait_fd >= 0) ::close(m_wait_fd);
    if (m_fd >= 0) ::close(m_fd);
}

unsigned long edge_wakeups() { return g_edge_wakeups.load(std::memory_order_relaxed); }

int EdgeWatch::open() {
    m_fd = ::open(path(line_path(m_line) + "/value").c_str(), O_RDWR | O_CLOEXEC);
    m_signalled = m_fd >= 0;
    return m_fd;
}

int EdgeWatch::level() {
    char buf[10] = {};
    ssize_t r = ::pread(m_fd, buf, sizeof buf, 0);
    ::lseek(m_fd, 0, SEEK_SET);
    m_signalled = false;
    if (r < 1 || (buf[0] != '0' && buf[0] != '1')) return -1;
    return buf[0] - '0';
}

int EdgeWatch::arm() {
    if (simulated()) {
        m_wait_fd = inotify_init1(IN_CLOEXEC);
        if (m_wait_fd < 0) return -1;
        if (inotify_add_watch(m_wait_fd, path(line_path(m_line) + "/value").c_str(), IN_CLOSE_WRITE) < 0)
            return -2;
        return 0;
    }
    m_wait_fd = epoll_create1(EPOLL_CLOEXEC);
    if (m_wait_fd < 0) return -1;
    epoll_event ev{};
    ev.events = EPOLLPRI | EPOLLERR;
    ev.data.fd = m_fd;
    return epoll_ctl(m_wait_fd, EPOLL_CTL_ADD, m_fd, &ev) == 0 ? 0 : -2;
}

int EdgeWatch::wait(int timeout_ms) {
    int r;
    if (simulated()) {
        if (!m_signalled) {
            pollfd p{m_wait_fd, POLLIN, 0};
            r = ::poll(&p, 1, timeout_ms);
            if (r <= 0) return r < 0 && errno != EINTR ? -1 : 0;
            alignas(inotify_event) char buf[4096];
            if (::read(m_wait_fd, buf, sizeof buf) <= 0) return -1;
            m_signalled = true;
        }
        r = 1;
    } else {
        epoll_event ev{};
        r = epoll_wait(m_wait_fd, &ev, 1, timeout_ms);
        if (r < 0) return errno == EINTR ? 0 : -1;
    }
    if (r > 0) g_edge_wakeups.fetch_add(1, std::memory_order_relaxed);
    return r;
}

} // namespace gpio

bool read_mac(std::string_view ifname, unsigned char mac[6]) {
    std::string p = path("/sys/class/net/" + std::string(ifname) + "/address");
    FILE* f = fopen(p.c_str(), "r");
    if (!f) return false;
    unsigned v[6] = {};
    char tail = 0;
    int got = fscanf(f, "%2x:%2x:%2x:%2x:%2x:%2x%c", &v[0], &v[1], &v[2], &v[3], &v[4], &v[5], &tail);
    fclose(f);
    if (got < 6 || (got == 7 && tail != '\n' && tail != ' ')) return false;
    for (int i = 0; i < 6; ++i) mac[i] = static_cast<unsigned char>(v[i]);
    return true;
}

} // namespace hdext::board
