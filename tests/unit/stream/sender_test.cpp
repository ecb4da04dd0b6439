// TX sender and heartbeat on loopback: refusals, slot states, client numbering, supported-
// clients changes, reply contents, streaming with a stalled receiver.
#include <gtest/gtest.h>

#include <map>
#include <thread>

#include "decode/audio_decoder.h"
#include "decode/video_decoder.h"
#include "tx_fixture.h"

using namespace stream_test;

namespace {

TEST_F(TxTest, RefusalsCloseTheConnectionAndSlotsFollowTheLink) {
    const uint16_t hb_port = hdext::stream::config().hb_port;
    std::string out = stdout_of([&] {
        // A stream connection from an address that has not registered is closed at once.
        EXPECT_TRUE(closed_by_peer(keep(open_stream("127.0.0.9"))));
        // Outside the network, on either port.
        EXPECT_TRUE(closed_by_peer(keep(connect_from("127.1.0.5", hb_port))));
        EXPECT_TRUE(closed_by_peer(keep(connect_from("127.1.0.5", hdext::stream::config().stream_port))));
        // While pairing starts nobody gets in.
        CNetworkTask::SetPairingStatus(PAIRING_STATUS_STARTING);
        EXPECT_TRUE(closed_by_peer(keep(connect_from("127.0.0.2", hb_port))));
        EXPECT_TRUE(closed_by_peer(keep(open_stream("127.0.0.2"))));
        CNetworkTask::SetPairingStatus(PAIRING_STATUS_IDLE);
        // An unknown message type.
        const int odd = keep(connect_from("127.0.0.3", hb_port));
        send_bytes(odd, hb_message(0x1111));
        EXPECT_TRUE(closed_by_peer(odd));
    });
    EXPECT_NE(out.find("hb connect ip:  Does not belong to the network segment \n"), std::string::npos);
    EXPECT_NE(out.find("connect ip:  Does not belong to the network segment \n"), std::string::npos);
    EXPECT_NE(out.find("GetPairingStatus==PAIRING_STATUS_STARTING\n"), std::string::npos);
    EXPECT_EQ(slot_states(), (std::vector<int>{0, 0, 0}));

    // Registered by the heartbeat, then streaming once its stream connection is accepted.
    const int a = register_rx("127.0.0.2");
    EXPECT_EQ(slot_states(), (std::vector<int>{1, 0, 0}));
    const int sa = open_stream("127.0.0.2");
    ASSERT_TRUE(wait_until([] { return slot_states()[0] == SENDER_STATE_STREAMING; }));
    // A second heartbeat connection from the same address is refused.
    out = stdout_of([&] { EXPECT_TRUE(closed_by_peer(keep(connect_from("127.0.0.2", hb_port)))); });
    EXPECT_NE(out.find("ip address already exist"), std::string::npos);

    // With every frame list taken, a registered receiver's stream connection is refused but it
    // keeps its slot until its heartbeat ends.
    register_rx("127.0.0.3");
    frame_buff_head* taken[2] = {g_pTaskVENC->GetFrameHead(), g_pTaskVENC->GetFrameHead()};
    out = stdout_of([&] { EXPECT_TRUE(closed_by_peer(open_stream("127.0.0.3"))); });
    EXPECT_NE(out.find("can not get frame head"), std::string::npos);
    for (frame_buff_head* h : taken) g_pTaskVENC->ReleaseFrameHead(h);

    // A third receiver fills the slots; a fourth is refused.
    register_rx("127.0.0.4");
    EXPECT_EQ(slot_states(), (std::vector<int>{2, 2, 1}));
    out = stdout_of([&] { EXPECT_TRUE(closed_by_peer(keep(connect_from("127.0.0.5", hb_port)))); });
    EXPECT_NE(out.find("HB can not connect , over number"), std::string::npos);

    // Killing the stream connection ends the heartbeat connection too (noticed at the next
    // frame sent); the slot becomes free.
    drop(sa);
    EXPECT_TRUE(wait_until([&] {
        frame_buff* f = alloc_frame(100);
        f->kind = kFrameKindVideo;
        const uint8_t zeros[100] = {};
        frame_copy_data(f, zeros, sizeof zeros);
        g_pTaskVENC->PutStreamToList(f);
        free_frame(f);
        return closed_by_peer(a, 20ms);
    }));
    EXPECT_TRUE(wait_until([] { return slot_states()[0] == SENDER_STATE_FREE; }));
}

TEST_F(TxTest, AReceiverGoneSilentIsGivenUpAndMayRegisterAgain) {
    ASSERT_TRUE(private_network()) << kNeedsRoot;
    const auto& cfg = hdext::stream::config();
    register_rx("127.0.0.2");
    open_stream("127.0.0.2");
    ASSERT_TRUE(wait_until([] { return slot_states()[0] == SENDER_STATE_STREAMING; }));
    // Its air goes silent: nothing the TX sends it is answered, keepalive probes included.
    ASSERT_TRUE(silence("ip daddr 127.0.0.2"));
    EXPECT_TRUE(wait_until([] { return slot_states()[0] == SENDER_STATE_FREE; }, cfg.hb_timeout / 2));
    ASSERT_TRUE(silence(""));
    const int again = register_rx("127.0.0.2");
    EXPECT_EQ(exchange(again, hb_message(hb::kTypeRx)).size(), 108u);
}

TEST_F(TxTest, ClientsAreNumberedInJoiningOrderAndMoveUpWhenOneLeaves) {
    const int a = register_rx("127.0.0.2");
    const int b = register_rx("127.0.0.3");
    const int c = register_rx("127.0.0.4");
    EXPECT_EQ(exchange(a, hb_message(hb::kTypeRx))[hb::kClient], 1);
    EXPECT_EQ(exchange(b, hb_message(hb::kTypeRx))[hb::kClient], 2);
    EXPECT_EQ(exchange(c, hb_message(hb::kTypeRx))[hb::kClient], 3);
    EXPECT_EQ(app_status[7].load(), 3);
    drop(a);
    ASSERT_TRUE(wait_until([] { return live_clients() == 2; }));
    using T = std::vector<std::pair<std::string, int>>;
    EXPECT_EQ(client_table(), (T{{"127.0.0.3", 2}, {"127.0.0.4", 3}}));
    const int d = register_rx("127.0.0.5");
    EXPECT_EQ(client_table(), (T{{"127.0.0.5", 1}, {"127.0.0.3", 2}, {"127.0.0.4", 3}}));
    EXPECT_EQ(exchange(d, hb_message(hb::kTypeRx))[hb::kClient], 1);
    EXPECT_EQ(exchange(c, hb_message(hb::kTypeRx))[hb::kClient], 3);
    drop(b);
    drop(c);
    drop(d);
    ASSERT_TRUE(wait_until([] { return live_clients() == 0; }));
    EXPECT_EQ(app_status[14].load(), 1);
}

TEST_F(TxTest, ChangingTheSupportedClientsEndsEveryClientAndLimitsTheNext) {
    const uint16_t port = hdext::stream::config().hb_port;
    const int a = register_rx("127.0.0.2");
    const int sa = open_stream("127.0.0.2");
    ASSERT_TRUE(wait_until([] { return slot_states()[0] == SENDER_STATE_STREAMING; }));
    set_supported(2);
    // The next client takes the freed slot with nothing of the old registration in it: the
    // old stream is over, and its descriptor is not the slot's to shut down any more.
    register_rx("127.0.0.3");
    {
        std::lock_guard<std::mutex> g(g_mutex);
        EXPECT_EQ(g_pSenderSlots[0].m_sock, 0);
        EXPECT_EQ(g_pSenderSlots[0].m_streamConnected, 0);
    }
    EXPECT_TRUE(closed_by_peer(sa));
    send_bytes(a, hb_message(hb::kTypeRx));
    EXPECT_TRUE(closed_by_peer(a));
    register_rx("127.0.0.4");
    EXPECT_EQ(slot_states(), (std::vector<int>{1, 1, 3}));
    EXPECT_TRUE(closed_by_peer(keep(connect_from("127.0.0.5", port))));
    for (int fd : fds) close(fd);
    fds.clear();
    ASSERT_TRUE(wait_until([] { return live_clients() == 0; }));
    set_supported(0);
    EXPECT_TRUE(closed_by_peer(keep(connect_from("127.0.0.2", port))));
    set_supported(3);
    register_rx("127.0.0.2");
    EXPECT_EQ(slot_states(), (std::vector<int>{1, 0, 0}));
}

TEST_F(TxTest, RepliesCarryTheInputChannelAndVersionAndTakeChannelChanges) {
    const int a = register_rx("127.0.0.2");
    std::vector<uint8_t> msg = hb_message(hb::kTypeRx);
    msg[27] = 'x';
    msg[25] = 4;
    // No input: timing 49, audio 96001, not present; the rest echoed but channel, number, version.
    std::vector<uint8_t> want = msg;
    hb::put32(want.data(), hb::kTiming, 49);
    hb::put32(want.data(), hb::kAudio, 96001);
    want[hb::kChannel] = static_cast<uint8_t>(CParamConfig::Instance()->GetWifiChn());
    want[hb::kClient] = 1;
    std::memcpy(&want[hb::kVersion], "V1.0.1.1", 8);
    std::vector<uint8_t> r = exchange(a, msg);
    EXPECT_EQ(r, want);

    vi_mode.store(2);
    MaxW_6911_ATT.store(1920);
    MaxH_6911_ATT.store(1080);
    FrameRate_6911.store(60);
    VO_SYNC_6911_ATT.store(23);
    AudioSampling_6911.store(48000);
    r = exchange(a, hb_message(hb::kTypeRx));
    const uint8_t input[20] = {0x80, 0x07, 0, 0, 0x38, 0x04, 0, 0, 60, 0, 0, 0, 23, 0, 0, 0, 0x80, 0xBB, 0, 0};
    EXPECT_EQ(0, std::memcmp(r.data(), input, 20));
    EXPECT_EQ(r[hb::kPresent], 1);

    // A channel change announced by the receiver moves the TX, once.
    const int old = CParamConfig::Instance()->GetWifiChn();
    msg = hb_message(hb::kTypeRx);
    msg[hb::kChanged] = 1;
    msg[hb::kChannel] = 149;
    std::string out = stdout_of([&] { r = exchange(a, msg); });
    EXPECT_NE(out.find("recv channel: 149, old channel: " + std::to_string(old)), std::string::npos);
    EXPECT_EQ(r[hb::kChannel], 149);
    EXPECT_EQ(app_status[31].load(), 149);
    exchange(a, msg);
    ASSERT_TRUE(wait_until([] { return !messages(kMidParam).empty(); }));
    std::this_thread::sleep_for(100ms);
    std::vector<SeenMsg> seen = messages(kMidParam);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].src, 4096u);
    EXPECT_EQ(seen[0].msg_id, 8196u);
    EXPECT_EQ(seen[0].data, std::string("\x95\0\0\0", 4));

    // A channel outside the supported set changes nothing and is refused once.
    out = stdout_of([&] {
        for (int bogus : {200, 200, 0, 165}) {
            msg[hb::kChannel] = static_cast<uint8_t>(bogus);
            EXPECT_EQ(exchange(a, msg)[hb::kChannel], 149);
        }
    });
    for (int bogus : {200, 0, 165})
        EXPECT_EQ(lines_with(out, "refused channel " + std::to_string(bogus) + " from 127.0.0.2"), 1) << out;
    EXPECT_EQ(lines_with(out, "recv channel"), 0) << out;
    EXPECT_EQ(app_status[31].load(), 149);
    EXPECT_EQ(messages(kMidParam).size(), 1u);

    // Once the store holds the new channel, every other receiver is told too.
    const int b = register_rx("127.0.0.3");
    EXPECT_EQ(exchange(b, hb_message(hb::kTypeRx))[hb::kChannel], old);
    ABS_WIFI_AP_CONFIG_t w{};
    CParamConfig::Instance()->GetWifiInfo(&w);
    w.channel = 149;
    CParamConfig::Instance()->set_wifi_ap_info(&w);
    EXPECT_EQ(exchange(b, hb_message(hb::kTypeRx))[hb::kChannel], 149);
    w.channel = static_cast<uint8_t>(old);
    CParamConfig::Instance()->set_wifi_ap_info(&w);
}


TEST_F(TxTest, AStalledReceiverCostsOnlyItsOwnListThenTwoReceiversGetEveryNewFrameWhole) {
    decode_lists();
    const MEMPOOL_STATS base = pool(kFrameKindVideo, true);
    const int a = register_rx("127.0.0.2");
    const int sa = open_stream("127.0.0.2");
    const int sb_hb = register_rx("127.0.0.3");
    const int sb = open_stream("127.0.0.3");
    ASSERT_TRUE(wait_until([] { return slot_states() == std::vector<int>{2, 2, 0}; }));
    std::this_thread::sleep_for(50ms); // both sending threads have cleared their lists
    {
        Reader b(sb);
        int peak = 0;
        for (uint64_t n = 1; n <= 300; ++n) {
            frame_buff* f = numbered_frame(30000, n);
            g_pTaskVENC->PutStreamToList(f);
            free_frame(f);
            if (n % 10 == 0) {
                frame_buff* au = audio_frame(160, n);
                g_pAEncoder->DispatchFrame(au);
                free_audio_frame(au);
            }
            frame_buff* got = nullptr;
            ASSERT_TRUE(wait_until([&] { return (got = frame_dequeue(g_pDecoder->m_pList)) != nullptr; }))
                << "receiver B stopped at frame " << n;
            EXPECT_EQ(got->pts, n);
            free_frame(got);
            peak = std::max(peak, pool(kFrameKindVideo, true).used - base.used);
        }
        // A holds at most its list (limit 100, then the drop) plus what sits in its socket.
        EXPECT_LE(peak, 110);
        ASSERT_TRUE(wait_until([] { return frame_queue_count(g_pADecoder->m_pList) == 30; }));
        frame_queue_flush(g_pADecoder->m_pList);
        shutdown(sb, SHUT_RDWR);
        drop(sb_hb);
    }
    // A gives up and links again with B: from the next frame on both get every frame whole,
    // frames of several packets too, whose chunks both sending threads read at once (TSan
    // watches this); an audio frame too large for a packet is dropped, not the connections.
    drop(sa);
    drop(a);
    drop(sb);
    ASSERT_TRUE(wait_until([] { return live_clients() == 0; }));
    const int sa2 = (register_rx("127.0.0.2"), open_stream("127.0.0.2"));
    const int sb2 = (register_rx("127.0.0.3"), open_stream("127.0.0.3"));
    ASSERT_TRUE(wait_until([] { return slot_states() == std::vector<int>{2, 2, 0}; }));
    std::this_thread::sleep_for(50ms);
    std::string out;
    {
        Reader ra(sa2), rb(sb2);
        out = stdout_of([&] {
            // One at a time: both sending threads wait, and take each frame at the same moment.
            for (int n = 1; n <= 10; ++n) {
                frame_buff* au = audio_frame(n == 5 ? 150000 : 160, n);
                g_pAEncoder->DispatchFrame(au);
                free_audio_frame(au);
                frame_buff* f = numbered_frame(150000, 1000 + n);
                g_pTaskVENC->PutStreamToList(f);
                free_frame(f);
                ASSERT_TRUE(wait_until([&] { return frame_queue_count(g_pDecoder->m_pList) == 2 * n; }));
            }
            ASSERT_TRUE(wait_until([] { return frame_queue_count(g_pADecoder->m_pList) == 18; }));
        });
        shutdown(sa2, SHUT_RDWR);
        shutdown(sb2, SHUT_RDWR);
    }
    std::map<uint64_t, int> seen;
    while (frame_buff* f = frame_dequeue(g_pDecoder->m_pList)) {
        std::vector<uint8_t> bytes(f->total);
        frame_gather(f, bytes.data(), f->total);
        EXPECT_EQ(f->total, 150000u);
        EXPECT_EQ(bytes.back(), static_cast<uint8_t>(f->pts));
        ++seen[f->pts];
        free_frame(f);
    }
    EXPECT_EQ(seen.size(), 10u);
    for (auto& [pts, n] : seen) EXPECT_EQ(n, 2) << pts;
    EXPECT_EQ(frame_queue_count(g_pADecoder->m_pList), 18);
    frame_queue_flush(g_pADecoder->m_pList);
    EXPECT_EQ(lines_with(out, "audio frame of 150000 bytes dropped"), 2) << out; // once per receiver
    for (int fd : fds) close(fd);
    fds.clear();
    ASSERT_TRUE(wait_until([] { return live_clients() == 0; }));
    // Every list is given back and emptied; nothing stays allocated.
    EXPECT_TRUE(wait_until([&] { return pool(kFrameKindVideo, true).used == base.used; }));
}

} // namespace
