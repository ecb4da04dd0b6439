// A peer of a TX's heartbeat port, for the app client and the hostile-peer driver: TCP
// connections from a chosen source address, whole 108-byte messages.
#pragma once
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstdint>
#include <string>

#include "stream/stream_net.h"

namespace hdext::sim {

// A connection to addr:port, from `from` when not empty; -1 when it cannot be made (within
// `limit_ms` when given: a peer that is gone may leave the SYNs unanswered for minutes).
inline int connect_to(const std::string& addr, int port, const std::string& from = "", int limit_ms = 0) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (limit_ms > 0) {
        const timeval t{limit_ms / 1000, (limit_ms % 1000) * 1000};
        setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &t, sizeof t);
    }
    sockaddr_in a{};
    a.sin_family = AF_INET;
    if (!from.empty() && (inet_pton(AF_INET, from.c_str(), &a.sin_addr) != 1 ||
                          bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0)) {
        close(fd);
        return -1;
    }
    a.sin_port = htons(static_cast<uint16_t>(port));
    if (inet_pton(AF_INET, addr.c_str(), &a.sin_addr) != 1 || connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) < 0) {
        close(fd);
        return -1;
    }
    return fd;
}

inline bool read_message(int fd, uint8_t* m) {
    size_t got = 0;
    while (got < static_cast<size_t>(hb::kLen)) {
        ssize_t r = recv(fd, m + got, hb::kLen - got, 0);
        if (r <= 0) return false;
        got += static_cast<size_t>(r);
    }
    return true;
}

inline bool send_message(int fd, const uint8_t* m) { return send(fd, m, hb::kLen, MSG_NOSIGNAL) == hb::kLen; }

} // namespace hdext::sim
