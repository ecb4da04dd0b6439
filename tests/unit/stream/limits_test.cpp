// What a peer can make the TX hold: connections owing their first message (capped per address
// and in all, with a deadline for the whole message, no thread each), accepts while no
// descriptor is left, thread starts that fail.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include "tx_fixture.h"

using namespace stream_test;
using Clock = std::chrono::steady_clock;

namespace {

bool still_open(int fd) { return !readable(fd, 0ms); }

TEST_F(TxTest, ConnectionsOwingTheirFirstMessageAreCappedAndTimedAsAWhole) {
    const uint16_t port = hdext::stream::config().hb_port;
    // Six from one address: the fifth and sixth are closed at once, four wait.
    std::vector<int> one;
    for (int i = 0; i < 6; ++i) one.push_back(keep(connect_from("127.0.0.20", port)));
    const auto opened = Clock::now();
    EXPECT_TRUE(closed_by_peer(one[4], 1s));
    EXPECT_TRUE(closed_by_peer(one[5], 1s));
    if (Clock::now() - opened < 1s) {
        for (int i = 0; i < 4; ++i) EXPECT_TRUE(still_open(one[i])) << i;
    }
    // Bytes trickling in do not buy more time: the whole message is due within 1.5 s here.
    for (int i = 0; i < 4; ++i) {
        const auto end = Clock::now() + 5s;
        while (Clock::now() < end && !closed_by_peer(one[i], 100ms)) send(one[i], "x", 1, MSG_NOSIGNAL);
        EXPECT_LT(Clock::now(), end) << "connection " << i << " outlived its first-message time";
    }
    EXPECT_GE(Clock::now() - opened, 1400ms);

    // 17 addresses with four each: the four that waited longest give way; one thread reads all.
    std::vector<int> many;
    for (int i = 0; i < 68; ++i) many.push_back(keep(connect_from(("127.0.0." + std::to_string(100 + i / 4)).c_str(), port)));
    for (int i = 0; i < 4; ++i) EXPECT_TRUE(closed_by_peer(many[i], 1s)) << i;
    EXPECT_TRUE(still_open(many.back()));
    EXPECT_EQ(threads_named("judge_device"), 1);
    // A receiver from a fresh address still gets in, and everything waiting is gone in time.
    // Three that waited side by side from one address (all past the acceptor's check before .2
    // registered) get one slot between them.
    std::vector<int> same;
    for (int i = 0; i < 3; ++i) same.push_back(keep(connect_from("127.0.0.21", port)));
    register_rx("127.0.0.2");
    for (int fd : same) send_bytes(fd, hb_message(hb::kTypeRx));
    register_rx("127.0.0.3");
    EXPECT_EQ(slot_states(), (std::vector<int>{1, 1, 1}));
    for (int fd : many) EXPECT_TRUE(closed_by_peer(fd, 5s));
}

// A receiver can move the access point under every receiver: one change per pause for the
// whole kit; the newest request held back is taken when the pause ends, said once per pause.
// Steps: second, channel asked (0: none), channel in use, channel taken, said held back.
TEST(ChannelGate, OneChangePerPauseAndTheNewestHeldRequestWins) {
    hdext::stream::ChannelGate gate(10s);
    const int steps[][5] = {{0, 149, 36, 149, 0}, {1, 153, 149, 0, 1}, {2, 157, 149, 0, 0}, {10, 0, 149, 157, 0},
                            {11, 161, 157, 0, 1}, {12, 157, 157, 0, 0}, {25, 0, 157, 0, 0}, {25, 36, 157, 36, 0}};
    for (const auto& t : steps) {
        const auto v = gate.offer(t[1], t[2], Clock::time_point{} + 1h + std::chrono::seconds(t[0]));
        EXPECT_EQ(std::pair(v.take, v.held), std::pair(t[3], t[4] == 1)) << t[0] << " s";
    }
}

TEST_F(TxTest, UsedUpDescriptorsPauseBothAcceptorsOnceAndOnlyTheProcessLimitClosesWaitingOnes) {
    int spare[2];
    ASSERT_EQ(pipe(spare), 0);
    const int hb = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0), st = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const auto connect_to = [](int fd, uint16_t port) {
        const sockaddr_in to = ipv4("127.0.0.1", port);
        return connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    };
    rlimit old{};
    getrlimit(RLIMIT_NOFILE, &old);
    const std::string out = stdout_of([&] {
        const rlimit low{static_cast<rlim_t>(open_fds() + 16), old.rlim_max};
        ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &low), 0);
        // Topped up before each connection: connections of earlier tests may still be closing.
        std::vector<int> filler;
        const auto fill = [&] {
            for (size_t had = ~size_t{0}; had != filler.size(); std::this_thread::sleep_for(100ms)) {
                had = filler.size();
                for (int fd; (fd = dup(spare[0])) >= 0;) filler.push_back(fd);
            }
        };
        // One port at a time: the other acceptor could take the descriptor a spare frees.
        for (auto [fd, port] : {std::pair{hb, hdext::stream::config().hb_port}, {st, hdext::stream::config().stream_port}}) {
            fill();
            EXPECT_EQ(connect_to(fd, port), 0);
            EXPECT_TRUE(closed_by_peer(fd));
        }
        std::this_thread::sleep_for(300ms); // a spinning acceptor would fill the log here
        for (int fd : filler) close(fd);
        setrlimit(RLIMIT_NOFILE, &old);
        register_rx("127.0.0.2");
        open_stream("127.0.0.2");
        EXPECT_TRUE(wait_until([] { return slot_states()[0] == SENDER_STATE_STREAMING; }));
        // A shortage of the whole system pauses too, but costs no waiting connection.
        for (int err : {ENFILE, ENOBUFS, ENOMEM}) {
            forced_accept_error = err;
            const int fd = keep(connect_from("127.0.0.3", hdext::stream::config().hb_port));
            EXPECT_FALSE(closed_by_peer(fd, 400ms)) << err;
            forced_accept_error = 0;
            EXPECT_EQ(exchange(fd, hb_message(hb::kTypeRx)).size(), 108u) << err;
            drop(fd);
            ASSERT_TRUE(wait_until([] { return client_number_of("127.0.0.3") < 0; }));
        }
    });
    for (int fd : {hb, st, spare[0], spare[1]}) close(fd);
    EXPECT_EQ(lines_with(out, "accpt socket error: Too many open files"), 1) << out.substr(0, 2000);
    EXPECT_EQ(lines_with(out, "heartbeat: accept paused"), 4);
    EXPECT_EQ(lines_with(out, "stream: accept paused"), 1);
    EXPECT_EQ(lines_with(out, "waiting connections are closed"), 2);
    EXPECT_EQ(lines_with(out, "accepting connections again"), 5);
}

TEST_F(TxTest, AThreadThatCannotStartGivesBackSlotListsAndSocket) {
    const uint16_t port = hdext::stream::config().hb_port;
    std::filesystem::create_directories(board().host("/etc"));
    board().put("/etc/uuidList", std::string(36, 'k') + "\n");
    std::vector<uint8_t> known = hb_message(hb::kTypeApp), unknown = known;
    std::memset(&known[hb::kUuid], 'k', 36);
    std::memset(&unknown[hb::kUuid], 'u', 36);
    // The thread refused, and the connection that needs it (a first message, or a stream).
    const std::vector<std::pair<const char*, std::function<int()>>> cases = {
        {"send_rx_info", [&] { return keep(connect_from("127.0.0.2", port)); }},
        {"send_app_info", [&] { return keep(connect_from("127.0.0.6", port)); }},
        {"app_pair_info", [&] { return keep(connect_from("127.0.0.7", port)); }},
        {"SendStream", [&] { register_rx("127.0.0.3"); return open_stream("127.0.0.3"); }},
    };
    const std::vector<uint8_t> first[] = {hb_message(hb::kTypeRx), known, unknown, {}};
    for (size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(cases[i].first);
        refused_thread() = cases[i].first;
        const int fd = cases[i].second();
        if (!first[i].empty()) send_bytes(fd, first[i]);
        EXPECT_TRUE(closed_by_peer(fd));
        refused_thread() = "";
        for (auto& fd : fds) close(fd);
        fds.clear();
        ASSERT_TRUE(wait_until([] { return live_clients() == 0 && slot_states() == std::vector<int>{0, 0, 0}; }));
    }
    // Every encoder list came back.
    frame_buff_head* lists[3] = {g_pTaskVENC->GetFrameHead(), g_pTaskVENC->GetFrameHead(), g_pTaskVENC->GetFrameHead()};
    for (frame_buff_head* l : lists) {
        EXPECT_NE(l, nullptr);
        if (l) g_pTaskVENC->ReleaseFrameHead(l);
    }
}

} // namespace
