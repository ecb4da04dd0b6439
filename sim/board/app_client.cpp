// A companion phone app for people and tests: connects to a TX's heartbeat port, pairs with
// the PINs given (one per pairing request, in order) and prints the status messages it gets.
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "sim/board/command.h"
#include "sim/board/peer.h"

namespace hdext::sim {
namespace {

using Clock = std::chrono::steady_clock;

constexpr char kDefaultUuid[] = "6f1c2a7e-3b4d-4e5f-8a9b-0c1d2e3f4a5b";

struct Options {
    std::string addr = "192.168.168.1";
    int port = 9990;
    std::string from;  // source address (empty: the system's choice)
    std::string uuid = kDefaultUuid;
    std::vector<std::string> pins;
    int count = 3;
};

std::string field(const uint8_t* m, int off, int len) {
    std::string s(reinterpret_cast<const char*>(m + off), static_cast<size_t>(len));
    return s.substr(0, s.find('\0'));
}

int run(int argc, char** argv) {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const bool has = i + 1 < argc;
        if (a == "--addr" && has) o.addr = argv[++i];
        else if (a == "--port" && has) o.port = std::atoi(argv[++i]);
        else if (a == "--from" && has) o.from = argv[++i];
        else if (a == "--uuid" && has) o.uuid = argv[++i];
        else if (a == "--pin" && has) o.pins.push_back(argv[++i]);
        else if (a == "--count" && has) o.count = std::atoi(argv[++i]);
        else {
            std::fprintf(stderr, "%s: unknown argument '%s'\n", argv[0], a.c_str());
            return 2;
        }
    }
    if (o.uuid.size() != 36) {
        std::fprintf(stderr, "%s: the identifier must have 36 characters\n", argv[0]);
        return 2;
    }
    for (const std::string& p : o.pins)
        if (p.size() != 4) {
            std::fprintf(stderr, "%s: a PIN has 4 characters: '%s'\n", argv[0], p.c_str());
            return 2;
        }
    const int fd = connect_to(o.addr, o.port, o.from);
    if (fd < 0) {
        std::printf("app: cannot connect to %s:%d: %s\n", o.addr.c_str(), o.port, std::strerror(errno));
        return 1;
    }
    std::printf("app: connected to %s:%d as %s\n", o.addr.c_str(), o.port, o.uuid.c_str());
    uint8_t m[hb::kLen] = {};
    hb::put_type(m, hb::kTypeApp);
    std::memcpy(m + hb::kUuid, o.uuid.data(), 36);
    if (!send_message(fd, m)) {
        std::printf("app: connection closed by the TX\n");
        close(fd);
        return 1;
    }
    size_t next_pin = 0;
    int statuses = 0;
    Clock::time_point pin_sent{};
    while (statuses < o.count) {
        if (!read_message(fd, m)) {
            std::printf("app: connection closed by the TX\n");
            close(fd);
            return 1;
        }
        if (hb::type(m) == hb::kTypePairRequest) {
            const long waited = next_pin == 0 ? 0
                : static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - pin_sent).count());
            std::printf("app: pairing requested (%ld ms after the last PIN)\n", waited);
            if (next_pin >= o.pins.size()) {
                std::printf("app: no PIN left to try\n");
                close(fd);
                return 3;
            }
            uint8_t r[hb::kLen] = {};
            std::memcpy(r + hb::kPin, o.pins[next_pin].data(), 4);
            std::memcpy(r + hb::kUuid, o.uuid.data(), 36);
            std::printf("app: PIN %s\n", o.pins[next_pin].c_str());
            ++next_pin;
            pin_sent = Clock::now();
            if (!send_message(fd, r)) {
                std::printf("app: connection closed by the TX\n");
                close(fd);
                return 1;
            }
            continue;
        }
        ++statuses;
        std::printf("app: status %ux%u@%u timing %u audio %u channel %u client %u clients %s version %s\n",
                    hb::get32(m, hb::kWidth), hb::get32(m, hb::kHeight), hb::get32(m, hb::kRate),
                    hb::get32(m, hb::kTiming), hb::get32(m, hb::kAudio), m[hb::kChannel], m[hb::kClient],
                    field(m, hb::kCount, hb::kCountLen).c_str(), field(m, hb::kVersion, hb::kVersionLen).c_str());
        std::fflush(stdout);
    }
    close(fd);
    return 0;
}

const CommandRegistration reg("app",
                              "[--addr IP] [--port N] [--from IP] [--uuid ID36] [--pin PIN]... [--count N]: pair and "
                              "print status messages",
                              run);

} // namespace
} // namespace hdext::sim
