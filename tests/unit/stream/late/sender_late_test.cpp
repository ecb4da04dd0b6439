// The TX sender with a receiver that falls behind: what it drops, where it resumes, what the
// other receiver and the figures see.
#include <gtest/gtest.h>

#include <sstream>

#include "board/figures.h"
#include "unit/stream/tx_fixture.h"

using namespace stream_test;

namespace {

// Shorter than the TX bears a receiver that takes nothing, longer than a busy machine delays one.
[[maybe_unused]] const bool g_budget = (late_budget = 400ms, true);

std::string figure(const std::string& key) {
    std::istringstream in(hdext::board::figure_lines(hdext::board::FigureSheet::capture));
    for (std::string l; std::getline(in, l);)
        if (l.rfind(key + "=", 0) == 0) return l.substr(key.size() + 1);
    return "";
}

TEST_F(TxTest, ALateReceiverLosesItsQueueAndResumesAtAnIdrWhileTheOtherGetsEveryFrame) {
    decode_lists();
    const auto budget = hdext::stream::config().late_budget;
    auto put = [](frame_buff* v, frame_buff* a) {
        g_pTaskVENC->PutStreamToList(v);
        free_frame(v);
        g_pAEncoder->DispatchFrame(a);
        free_audio_frame(a);
    };
    register_rx("127.0.0.2");
    // A reads nothing for now, into a receive buffer that holds little.
    const int sa = keep(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    const int small = 4096;
    setsockopt(sa, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    const sockaddr_in tx = ipv4("127.0.0.1", hdext::stream::config().stream_port);
    ASSERT_EQ(bind_to(sa, "127.0.0.2", 0), 0);
    ASSERT_EQ(connect(sa, reinterpret_cast<const sockaddr*>(&tx), sizeof tx), 0);
    const int b_hb = register_rx("127.0.0.3");
    const int sb = open_stream("127.0.0.3");
    ASSERT_TRUE(wait_until([] { return slot_states() == std::vector<int>{2, 2, 0}; }));
    std::this_thread::sleep_for(50ms);
    constexpr uint64_t kStall = 60; // one and a half budgets
    {
        Reader b(sb);
        for (uint64_t n = 1; n <= kStall; ++n) {
            put(numbered_frame(20000, n), audio_frame(160, 1000 + n));
            frame_queue_flush(g_pADecoder->m_pList);
            std::this_thread::sleep_for(budget / 40);
        }
        EXPECT_TRUE(wait_until([] { return frame_queue_count(g_pDecoder->m_pList) == static_cast<int>(kStall); }));
        EXPECT_TRUE(wait_until([] { return figure("slot0_late_drops") > "0" && figure("slot0_wait_ms") > "0"; }));
        EXPECT_EQ(figure("slot0_addr") + " " + figure("slot1_addr") + " " + figure("slot1_late_drops"),
                  "127.0.0.2 127.0.0.3 0");
        shutdown(sb, SHUT_RDWR);
        drop(b_hb);
    }
    frame_queue_flush(g_pDecoder->m_pList);
    frame_queue_flush(g_pADecoder->m_pList);
    std::this_thread::sleep_for(budget + 50ms); // all of it is late now
    std::vector<uint64_t> video, audio;
    {
        Reader a(sa);
        for (uint64_t n = kStall + 1; n <= kStall + 5; ++n) // an IDR second
            put(numbered_frame(20000, n, n == kStall + 2), audio_frame(160, 5000 + n));
        EXPECT_TRUE(wait_until([&] {
            for (auto [list, got] : {std::pair{g_pDecoder->m_pList, &video}, {g_pADecoder->m_pList, &audio}})
                for (frame_buff* f; (f = frame_dequeue(list)); free_frame(f)) got->push_back(f->pts);
            return !video.empty() && video.back() == kStall + 5 && !audio.empty() && audio.back() == 5000 + kStall + 5;
        }));
        shutdown(sa, SHUT_RDWR);
    }
    // What its socket held before it fell behind, then the IDR and what follows.
    size_t held = 0;
    while (held < video.size() && video[held] == held + 1) ++held;
    EXPECT_LT(held, 10u);
    EXPECT_EQ(std::vector<uint64_t>(video.begin() + static_cast<long>(held), video.end()),
              (std::vector<uint64_t>{kStall + 2, kStall + 3, kStall + 4, kStall + 5}));
    EXPECT_LT(audio.size(), 5 + 10u) << "the stalled audio went too";
    for (int fd : fds) close(fd);
    fds.clear();
    EXPECT_TRUE(wait_until([] { return live_clients() == 0 && figure("slot0_addr").empty() && figure("slot1_addr").empty(); }))
        << "the figures leave with the connections";
}

} // namespace
