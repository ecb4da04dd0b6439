#include "stream/acceptor.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "stream/stream_config.h"
#include "stream/stream_net.h"

namespace hdext::stream {

namespace {

// Errors of the connection being accepted, not of the listener: the next one may work.
bool transient(int err) {
    switch (err) {
    case EINTR: case EAGAIN: case ECONNABORTED: case EPROTO: case EPERM: case ENETDOWN:
    case ENOPROTOOPT: case EHOSTDOWN: case ENONET: case EHOSTUNREACH: case EOPNOTSUPP:
    case ENETUNREACH:
        return true;
    default:
        return false;
    }
}

} // namespace

void Acceptor::open() {
    Episode failing;
    for (;;) {
        const char* step = "";
        m_listen = listen_any(m_port, &step);
        if (m_listen >= 0) break;
        const int err = errno;
        if (failing.begin()) {
            m_sayStep(step, err);
            std::printf("%s: port %d not listening yet, trying again every %lld ms\n", m_name, m_port,
                        static_cast<long long>(config().listen_retry.count()));
        }
        sleep_for(config().listen_retry);
    }
    if (failing.end()) std::printf("%s: listening on port %d\n", m_name, m_port);
    // Waits in poll, so a connection is known to be there when accept runs out of descriptors.
    fcntl(m_listen, F_SETFL, fcntl(m_listen, F_GETFL) | O_NONBLOCK);
    m_spare = fcntl(m_listen, F_DUPFD_CLOEXEC, 0);
}

void Acceptor::shed_one() {
    if (m_spare < 0) return;
    close(m_spare);
    const int fd = accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd >= 0) close(fd);
    m_spare = fcntl(m_listen, F_DUPFD_CLOEXEC, 0);
}

int Acceptor::next(sockaddr_in* peer) {
    for (;;) {
        pollfd p{m_listen, POLLIN, 0};
        if (poll(&p, 1, -1) < 0) continue;
        socklen_t len = sizeof *peer;
        const int forced = hooks().accept_error ? hooks().accept_error(m_name) : 0;
        const int fd = forced ? (errno = forced, -1) : accept4(m_listen, reinterpret_cast<sockaddr*>(peer), &len, SOCK_CLOEXEC);
        if (fd >= 0) {
            if (m_exhausted.end()) std::printf("%s: accepting connections again\n", m_name);
            m_pause = std::chrono::milliseconds(0);
            if (m_spare < 0) m_spare = fcntl(m_listen, F_DUPFD_CLOEXEC, 0);
            watch_peer(fd);
            return fd;
        }
        const int err = errno;
        if (transient(err)) {
            if (err != EAGAIN && err != EINTR && m_transient.pass()) m_sayError(err);
            continue;
        }
        if (m_exhausted.begin()) {
            m_sayError(err);
            std::printf("%s: accept paused while this lasts%s\n", m_name,
                        err == EMFILE ? "; waiting connections are closed" : "");
        }
        // Only this process's own limit can be eased by the spare: on a system-wide shortage
        // (ENFILE, ENOBUFS, ENOMEM) closing it frees nothing and would drop a good connection.
        if (err == EMFILE) shed_one();
        m_pause = std::clamp(m_pause * 2, config().accept_pause_first, config().accept_pause_max);
        sleep_for(m_pause);
    }
}

} // namespace hdext::stream
