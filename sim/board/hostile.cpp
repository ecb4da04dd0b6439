// A hostile or broken station on a TX's network, for tests: "hdext-board hostile MODE" opens
// connections to the heartbeat port (the pairing port for "pairing") from a range of source
// addresses (given to the station's interface beforehand) and misbehaves in one way. Each mode
// prints one summary line.
#include <poll.h>
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "sim/board/args.h"
#include "sim/board/command.h"
#include "sim/board/peer.h"

namespace hdext::sim {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

struct Options {
    std::string to = "192.168.168.1";
    int port = 9990;
    std::string net = "192.168.168."; // --from N-M: source addresses net.N to net.M
    int from = 20, last = 20;
    int count = 100;
    int rate = 100;    // flood: connections a second
    int seconds = 10;
    int channel = 200;
    int every = 9;     // pairing: seconds between the bytes of a connection
};

std::string source(const Options& o, int i) { return o.net + std::to_string(o.from + i % (o.last - o.from + 1)); }

// True once the TX has closed the connection (what it sent meanwhile is dropped).
bool closed(int fd) {
    uint8_t buf[256];
    for (;;) {
        const ssize_t r = recv(fd, buf, sizeof buf, MSG_DONTWAIT);
        if (r == 0 || (r < 0 && errno != EAGAIN && errno != EINTR)) return true;
        if (r < 0) return false;
    }
}

// Closes and forgets the connections the TX has closed; how many.
int reap(std::vector<int>& fds) {
    int n = 0;
    std::erase_if(fds, [&](int fd) {
        if (!closed(fd)) return false;
        close(fd);
        ++n;
        return true;
    });
    return n;
}

std::vector<uint8_t> message(uint16_t type) {
    std::vector<uint8_t> m(hb::kLen, 0);
    hb::put_type(m.data(), type);
    return m;
}

std::vector<uint8_t> app_hello(int i) {
    std::vector<uint8_t> m = message(hb::kTypeApp);
    char uuid[40];
    std::snprintf(uuid, sizeof uuid, "badc0ffe-0000-4000-8000-%012d", i);
    std::memcpy(m.data() + hb::kUuid, uuid, hb::kUuidLen);
    return m;
}

// Connections that send one byte now and then and never a whole first message.
int trickle(const Options& o) {
    std::vector<int> fds;
    int opened = 0, dropped = 0;
    for (int i = 0; i < o.count; ++i) {
        const int fd = connect_to(o.to, o.port, source(o, i));
        if (fd >= 0) fds.push_back(fd), ++opened;
    }
    for (auto end = Clock::now() + std::chrono::seconds(o.seconds); Clock::now() < end;) {
        dropped += reap(fds);
        for (int fd : fds) send(fd, "\xDD", 1, MSG_NOSIGNAL);
        std::this_thread::sleep_for(2s);
    }
    dropped += reap(fds);
    std::printf("hostile trickle: %d opened, %d closed by the TX, %zu still open\n", opened, dropped, fds.size());
    for (int fd : fds) close(fd);
    return 0;
}

// Connections as fast as --rate allows, each held until the TX closes it.
int flood(const Options& o) {
    std::vector<int> fds;
    int opened = 0, failed = 0, dropped = 0;
    const auto step = std::chrono::microseconds(1000000 / std::max(1, o.rate));
    auto next = Clock::now();
    for (auto end = next + std::chrono::seconds(o.seconds); Clock::now() < end; next += step) {
        std::this_thread::sleep_until(next);
        const int fd = connect_to(o.to, o.port, source(o, opened + failed));
        if (fd < 0) ++failed;
        else fds.push_back(fd), ++opened;
        if ((opened + failed) % 50 == 0) dropped += reap(fds);
    }
    dropped += reap(fds);
    std::printf("hostile flood: %d opened, %d failed, %d closed by the TX, %zu still open\n", opened, failed, dropped,
                fds.size());
    for (int fd : fds) close(fd);
    return 0;
}

// Apps that answer every pairing request with the next wrong PIN, one per address; an app
// whose connection ends tries again half a second later. A connect waits at most 1 s (a TX that
// holds its accepts leaves SYNs unanswered), so the run ends on time.
int pins(const Options& o) {
    const int n = o.last - o.from + 1;
    std::vector<int> fds(n, -1);
    std::vector<Clock::time_point> again(n);
    int sent = 0, refused = 0;
    for (auto end = Clock::now() + std::chrono::seconds(o.seconds); Clock::now() < end;) {
        std::vector<pollfd> p;
        for (int i = 0; i < n; ++i) {
            if (fds[i] < 0 && Clock::now() >= again[i] && (fds[i] = connect_to(o.to, o.port, source(o, i), 1000)) >= 0 &&
                !send_message(fds[i], app_hello(o.from + i).data())) {
                close(fds[i]);
                fds[i] = -1;
            }
            p.push_back(pollfd{fds[i], POLLIN, 0});
        }
        poll(p.data(), p.size(), 500);
        for (int i = 0; i < n; ++i) {
            if (fds[i] < 0 || !p[i].revents) continue;
            uint8_t m[hb::kLen];
            std::vector<uint8_t> r = app_hello(o.from + i);
            const std::string pin = std::to_string(10000 + sent % 10000).substr(1);
            std::memcpy(r.data() + hb::kPin, pin.data(), hb::kPinLen);
            if (!read_message(fds[i], m) || hb::type(m) != hb::kTypePairRequest || !send_message(fds[i], r.data())) {
                close(fds[i]);
                fds[i] = -1;
                again[i] = Clock::now() + 500ms;
                ++refused;
                continue;
            }
            ++sent;
        }
    }
    std::printf("hostile pins: %d wrong PINs sent, %d connections ended by the TX\n", sent, refused);
    for (int fd : fds)
        if (fd >= 0) close(fd);
    return 0;
}

// Apps that start pairing, send one wrong PIN and leave at once.
int abandon(const Options& o) {
    int done = 0;
    for (int i = 0; i < o.count; ++i) {
        const int fd = connect_to(o.to, o.port, source(o, i));
        if (fd < 0) continue;
        uint8_t m[hb::kLen];
        std::vector<uint8_t> r = app_hello(1000 + i);
        std::memcpy(r.data() + hb::kPin, "0000", 4);
        if (send_message(fd, app_hello(1000 + i).data()) && read_message(fd, m) && send_message(fd, r.data())) ++done;
        close(fd);
    }
    std::printf("hostile abandon: %d pairings left after a wrong PIN\n", done);
    return 0;
}

// A receiver that registers and announces a channel change to --channel; with --count 0 it
// only registers and says which client number it got. (The TX answers from the second
// message on: the first one registers.)
int receiver(const Options& o) {
    const int fd = connect_to(o.to, o.port, source(o, 0));
    std::vector<uint8_t> m = message(hb::kTypeRx);
    uint8_t reply[hb::kLen];
    if (fd < 0 || !send_message(fd, m.data()) || !send_message(fd, m.data()) || !read_message(fd, reply)) {
        std::printf("hostile receiver: not registered\n");
        return 1;
    }
    std::printf("hostile receiver: registered as client %d, channel %d\n", reply[hb::kClient], reply[hb::kChannel]);
    m[hb::kChanged] = 1;
    m[hb::kChannel] = static_cast<uint8_t>(o.channel);
    for (int i = 0; i < o.count && send_message(fd, m.data()) && read_message(fd, reply); ++i)
        std::printf("hostile receiver: asked for channel %d, told channel %d\n", o.channel, reply[hb::kChannel]);
    close(fd);
    return 0;
}

// Several receivers from one address: every connection is opened before any sends its first
// message. Says how many were answered, then keeps those registered for --seconds.
int clones(const Options& o) {
    std::vector<int> fds;
    for (int i = 0; i < o.count; ++i)
        if (const int fd = connect_to(o.to, o.port, source(o, 0)); fd >= 0) fds.push_back(fd);
    const std::vector<uint8_t> m = message(hb::kTypeRx);
    for (int fd : fds) send_message(fd, m.data());
    std::vector<int> held;
    for (int fd : fds) {
        pollfd p{fd, POLLIN, 0};
        uint8_t reply[hb::kLen];
        if (poll(&p, 1, 3000) == 1 && read_message(fd, reply)) held.push_back(fd);
        else close(fd);
    }
    std::printf("hostile clones: %zu of %d connections from %s registered\n", held.size(), o.count,
                source(o, 0).c_str());
    for (auto end = Clock::now() + std::chrono::seconds(o.seconds); Clock::now() < end;) {
        std::this_thread::sleep_for(1s);
        uint8_t reply[hb::kLen];
        std::erase_if(held, [&](int fd) {
            if (send_message(fd, m.data()) && read_message(fd, reply)) return false;
            close(fd);
            return true;
        });
    }
    for (int fd : held) close(fd);
    return 0;
}

// A registered receiver that announces another supported channel every second for --seconds;
// says how often the channel it is told changed.
int hopper(const Options& o) {
    static const int kChannels[] = {36, 40, 44, 48, 149, 153, 157, 161};
    const int fd = connect_to(o.to, o.port, source(o, 0));
    std::vector<uint8_t> m = message(hb::kTypeRx);
    uint8_t reply[hb::kLen];
    if (fd < 0 || !send_message(fd, m.data()) || !read_message(fd, reply)) {
        std::printf("hostile hopper: not registered\n");
        return 1;
    }
    int told = reply[hb::kChannel], asked = 0, changes = 0;
    std::string seen = std::to_string(told);
    const auto start = Clock::now();
    for (int i = 0; i < o.seconds; ++i) {
        std::this_thread::sleep_until(start + std::chrono::seconds(i));
        m[hb::kChanged] = 1;
        m[hb::kChannel] = static_cast<uint8_t>(kChannels[(i + 1) % 8] == told ? kChannels[(i + 2) % 8] : kChannels[(i + 1) % 8]);
        if (!send_message(fd, m.data()) || !read_message(fd, reply)) break;
        ++asked;
        if (reply[hb::kChannel] != told) {
            told = reply[hb::kChannel];
            ++changes;
            seen += " " + std::to_string(told);
        }
    }
    std::printf("hostile hopper: asked for %d channels, the channel told changed %d times (%s)\n", asked, changes,
                seen.c_str());
    close(fd);
    return 0;
}

// Connections to the pairing port that send one byte every --every seconds and never a whole
// request; each is opened again once the TX has closed it.
int pairing(const Options& o) {
    const int n = o.last - o.from + 1;
    std::vector<int> fds(n, -1);
    std::vector<Clock::time_point> last(n);
    int opened = 0, dropped = 0;
    for (auto end = Clock::now() + std::chrono::seconds(o.seconds); Clock::now() < end; std::this_thread::sleep_for(1s)) {
        for (int i = 0; i < n; ++i) {
            if (fds[i] >= 0 && closed(fds[i])) {
                close(fds[i]);
                fds[i] = -1;
                ++dropped;
            }
            if (fds[i] < 0 && (fds[i] = connect_to(o.to, o.port, source(o, i), 1000)) >= 0) {
                ++opened;
                last[i] = Clock::time_point{};
            }
            if (fds[i] >= 0 && Clock::now() - last[i] >= std::chrono::seconds(o.every)) {
                send(fds[i], "\xDD", 1, MSG_NOSIGNAL);
                last[i] = Clock::now();
            }
        }
    }
    std::printf("hostile pairing: %d connections opened, %d closed by the TX\n", opened, dropped);
    for (int fd : fds)
        if (fd >= 0) close(fd);
    return 0;
}

// --from: "N" or "N-M", 1 <= N <= M <= 254.
bool source_range(const std::string& v, Options& o) {
    const size_t dash = v.find('-');
    const auto from = int_arg(v.substr(0, dash), 1, 254);
    const auto last = dash == std::string::npos ? from : from ? int_arg(v.substr(dash + 1), *from, 254) : std::nullopt;
    if (!from || !last) return false;
    o.from = static_cast<int>(*from);
    o.last = static_cast<int>(*last);
    return true;
}

int run(int argc, char** argv) {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    if (argc < 2) {
        std::fprintf(stderr, "usage: hdext-board hostile trickle|flood|pins|abandon|receiver|clones|hopper|pairing "
                             "[--to IP] [--port N] [--from N[-M]] [--count N] [--rate N] [--seconds N] [--channel N] "
                             "[--every N]\n");
        return 2;
    }
    Options o;
    const std::string mode = argv[1];
    if (mode == "pairing") o.port = 6666;
    for (int i = 2; i < argc; i += 2) {
        const std::string k = argv[i], v = i + 1 < argc ? argv[i + 1] : "";
        // Each number whole and in its range (a channel may be any byte: refusing them is the test).
        auto set = [&](int* to, long lo, long hi) {
            const auto n = int_arg(v, lo, hi);
            if (n) *to = static_cast<int>(*n);
            return n.has_value();
        };
        bool ok = false;
        if (k == "--to") ok = !v.empty(), o.to = v;
        else if (k == "--port") ok = set(&o.port, 1, 65535);
        else if (k == "--from") ok = source_range(v, o);
        else if (k == "--count") ok = set(&o.count, 0, 1000000);
        else if (k == "--rate") ok = set(&o.rate, 1, 100000);
        else if (k == "--seconds") ok = set(&o.seconds, 0, 86400);
        else if (k == "--channel") ok = set(&o.channel, 0, 255);
        else if (k == "--every") ok = set(&o.every, 1, 3600);
        if (!ok) return bad_argument("hostile", "bad option \"" + k + (v.empty() ? "" : " " + v) + "\"");
    }
    o.net = o.to.substr(0, o.to.rfind('.') + 1);
    // As many connections as the host allows: the TX's limits are what is under test.
    rlimit r{};
    getrlimit(RLIMIT_NOFILE, &r);
    r.rlim_cur = r.rlim_max;
    setrlimit(RLIMIT_NOFILE, &r);
    if (mode == "trickle") return trickle(o);
    if (mode == "flood") return flood(o);
    if (mode == "pins") return pins(o);
    if (mode == "abandon") return abandon(o);
    if (mode == "receiver") return receiver(o);
    if (mode == "clones") return clones(o);
    if (mode == "hopper") return hopper(o);
    if (mode == "pairing") return pairing(o);
    std::fprintf(stderr, "hostile: unknown mode '%s'\n", mode.c_str());
    return 2;
}

const CommandRegistration reg("hostile",
                              "trickle|flood|pins|abandon|receiver|clones|hopper|pairing [--to IP] [--from N[-M]] "
                              "...: misbehave towards a TX's heartbeat or pairing port (tests)",
                              run);

} // namespace
} // namespace hdext::sim
