// One raw HTTP exchange with a server on loopback, as a browser or a script would send it: the
// request exactly as given (so a test can leave out what a careless client leaves out) and the
// whole answer, read until the server closes.
#pragma once
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>

namespace hdext::test {

inline std::string http_exchange(int port, const std::string& request) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::string answer;
    if (fd >= 0 && connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
        send(fd, request.data(), request.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(request.size())) {
        char buf[4096];
        for (ssize_t n; (n = recv(fd, buf, sizeof buf, 0)) > 0;) answer.append(buf, static_cast<size_t>(n));
    }
    if (fd >= 0) close(fd);
    return answer;
}

// A POST of the browser panel: its header, the parameters in the query, and (unless told not
// to) an empty body's length.
inline std::string panel_post(int port, const std::string& target, bool with_length = true) {
    return http_exchange(port, "POST " + target + " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) +
                                   "\r\nX-Hdext-Panel: 1\r\n" + (with_length ? "Content-Length: 0\r\n" : "") + "\r\n");
}

} // namespace hdext::test
