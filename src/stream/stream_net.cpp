#include "stream/stream_net.h"

#include <arpa/inet.h>
#include <linux/sockios.h>
#include <linux/tcp.h>
#include <sys/ioctl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <thread>

#include "core/dump_print.h"
#include "stream/link_pace.h"
#include "stream/stream_config.h"

namespace {
// Linux 6.15 and later; older C library headers do not name it yet.
constexpr int kTcpRtoMaxMs = 44;
} // namespace

int t_socket_shutdown(int fd, int how) {
    if (fd < 1) return -1;
    int ret = shutdown(fd, how);
    if (ret < 0) DUMP(3, "shutdown fail. ret = %d\n", ret);
    ret = close(fd);
    if (ret < 0) DUMP(3, "close fail. ret = %d\n", ret);
    return ret;
}

int r_socket_shutdown(int fd, int how) {
    if (fd < 1) return -1;
    if (shutdown(fd, how) < 0) DUMP(3, "fd=%d, shutdown fail. error = %s\n", fd, strerror(errno));
    int ret = close(fd);
    if (ret < 0) DUMP(3, "fd=%d, close fail. ret = %d\n", fd, ret);
    return ret;
}

int Recv_HB_Data(int fd, unsigned char* buffer, int length) {
    if (length == 0) return 0;
    int got = 0;
    while (got < length) {
        ssize_t r = recv(fd, buffer + got, static_cast<size_t>(length - got), 0);
        if (r < 0 && errno == EINTR) continue;
        if (r < 1) {
            DUMP(3, "222 HB recvmsg error ,error = %s \n", strerror(errno));
            return -1;
        }
        got += static_cast<int>(r);
    }
    return got;
}

namespace hdext::stream {

void wake_socket(int fd) {
    if (fd > 0) shutdown(fd, SHUT_RDWR);
}

int set_time_out(int fd, int option, std::chrono::milliseconds t) {
    timeval tv{};
    tv.tv_sec = static_cast<time_t>(t.count() / 1000);
    tv.tv_usec = static_cast<suseconds_t>((t.count() % 1000) * 1000);
    return setsockopt(fd, SOL_SOCKET, option, &tv, sizeof tv);
}

int set_linger_off(int fd) {
    linger l{};
    return setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
}

void watch_peer(int fd) {
    const auto silence = config().peer_silence;
    if (silence.count() <= 0) return;
    // With a user time-out, unanswered keepalive probes end the connection once it has passed.
    const int on = 1, second = 1, user_timeout = static_cast<int>(silence.count());
    setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &second, sizeof second);
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &second, sizeof second);
    setsockopt(fd, IPPROTO_TCP, TCP_USER_TIMEOUT, &user_timeout, sizeof user_timeout);
    // Retransmissions through a fade at least once a second, so the stream flows again within
    // a second of the air coming back instead of after the doubled pauses (1.6 s, 3.2 s ...).
    // A kernel without the option keeps its own back-off.
    const int rto_max = 1000;
    setsockopt(fd, IPPROTO_TCP, kTcpRtoMaxMs, &rto_max, sizeof rto_max);
}

int bound_unsent(int fd) {
    int ret = 0;
    const int unsent = config().stream_unsent, sndbuf = config().stream_sndbuf;
    if (unsent > 0 && setsockopt(fd, IPPROTO_TCP, TCP_NOTSENT_LOWAT, &unsent, sizeof unsent) < 0) ret = -1;
    if (sndbuf > 0 && setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &sndbuf, sizeof sndbuf) < 0) ret = -1;
    return ret;
}

bool look_socket(int fd, SocketLook* out) {
    tcp_info ti{};
    socklen_t len = sizeof ti;
    int queued = 0;
    // The queue first: what is acknowledged meanwhile then counts twice, never not at all, so a
    // picture never looks delivered before it is.
    if (ioctl(fd, SIOCOUTQ, &queued) < 0 || getsockopt(fd, IPPROTO_TCP, TCP_INFO, &ti, &len) < 0) return false;
    // Older kernels fill less of the record; what they leave out reads as 0.
    out->acked = ti.tcpi_bytes_acked;
    out->queued = static_cast<uint32_t>(queued);
    out->unsent = ti.tcpi_notsent_bytes;
    out->stalled = ti.tcpi_lost > 0 || ti.tcpi_retrans > 0;
    return true;
}

bool wait_writable(int fd, std::chrono::milliseconds wait) {
    pollfd p{fd, POLLOUT, 0};
    return poll(&p, 1, static_cast<int>(wait.count())) != 0;
}

int bind_link_interface(int fd) {
    const std::string& ifname = config().link_interface;
    if (ifname.empty()) return 0;
    return setsockopt(fd, SOL_SOCKET, SO_BINDTODEVICE, ifname.c_str(), static_cast<socklen_t>(ifname.size()));
}

int listen_any(uint16_t port, const char** step) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        *step = "socket";
        return -1;
    }
    const int one = 1;
    const char* failed = nullptr;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_ANY);
    a.sin_port = htons(port);
    if (setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one) < 0) failed = "reuseaddr";
    else if (set_linger_off(fd) < 0) failed = "linger";
    else if (bind_link_interface(fd) < 0 || bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) < 0) failed = "bind";
    else if (listen(fd, 10) < 0) failed = "listen";
    if (!failed) return fd;
    *step = failed;
    const int e = errno;
    close(fd);
    errno = e;
    return -1;
}

std::string address_text(uint32_t addr) {
    char text[INET_ADDRSTRLEN] = {};
    in_addr a{addr};
    inet_ntop(AF_INET, &a, text, sizeof text);
    return text;
}

bool in_network(const std::string& address) {
    const std::string& prefix = config().net_prefix;
    return address.compare(0, prefix.size(), prefix) == 0;
}

int start_thread(void* (*fn)(void*), void* arg) {
    pthread_t t;
    const int err = pthread_create(&t, nullptr, fn, arg);
    if (err == 0) pthread_detach(t);
    return err;
}

unsigned long thread_id() { return static_cast<unsigned long>(pthread_self()); }

void sleep_for(std::chrono::milliseconds t) { std::this_thread::sleep_for(t); }

int send_all(int fd, const void* data, int length) {
    const auto* p = static_cast<const uint8_t*>(data);
    int done = 0;
    while (done < length) {
        ssize_t r = send(fd, p + done, static_cast<size_t>(length - done), MSG_NOSIGNAL);
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) return static_cast<int>(r);
        done += static_cast<int>(r);
    }
    return length;
}

int recv_until(int fd, uint8_t* buffer, int length, std::chrono::steady_clock::time_point deadline) {
    int got = 0;
    while (got < length) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return -1;
        pollfd p{fd, POLLIN, 0};
        const int n = poll(&p, 1, static_cast<int>(left.count()));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return -1;
        const ssize_t r = recv(fd, buffer + got, static_cast<size_t>(length - got), MSG_DONTWAIT);
        if (r < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (r < 1) return -1;
        got += static_cast<int>(r);
    }
    return got;
}

bool wait_watching(int fd, std::chrono::steady_clock::time_point until) {
    for (;;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
        if (left.count() <= 0) return true;
        // Only a hang-up wakes this wait: data that arrives early does not make it spin.
        pollfd p{fd, POLLRDHUP, 0};
        const int n = poll(&p, 1, static_cast<int>(left.count()));
        if (n > 0) return false;
    }
}

void refuse(int fd, LogBrake& brake, const char* line) {
    if (brake.pass()) std::fputs(line, stdout);
    t_socket_shutdown(fd, SHUT_RDWR);
}

} // namespace hdext::stream
