// The RX link against a scripted TX on loopback: connect retries, heartbeat-driven decode
// messages, first-link media start, frames from the stream, channel changes both ways, and the
// rebuild after the TX drops the stream or goes silent.
#include <gtest/gtest.h>

#include <thread>

#include "decode/audio_decoder.h"
#include "decode/video_decoder.h"
#include "net/network_task.h"
#include "periph/app_status.h"
#include "periph/input_state.h"
#include "stream/protocol.h"
#include "stream/receiver.h"
#include "stream/rx_format.h"
#include "unit/stream/stream_env.h"

using namespace stream_test;

namespace {

std::atomic<int> g_mediaStarts{0};
int count_start(int) { return ++g_mediaStarts; }

int accept_within(int lfd) { return readable(lfd, 10s) ? accept(lfd, nullptr, nullptr) : -1; }

struct TxReply {
    uint32_t w = 0, h = 0, rate = 0, timing = 49, audio = 96001;
    uint8_t channel = 36, client = 2;
};

// Reads the RX's next message and answers it; like a TX, takes a channel the RX announces.
std::vector<uint8_t> exchange(int fd, TxReply& r) {
    std::vector<uint8_t> in(hb::kLen);
    if (!read_exact(fd, in.data(), in.size())) return {};
    if (in[hb::kChanged]) r.channel = in[hb::kChannel];
    std::vector<uint8_t> out = in;
    hb::put32(out.data(), hb::kWidth, r.w);
    hb::put32(out.data(), hb::kHeight, r.h);
    hb::put32(out.data(), hb::kRate, r.rate);
    hb::put32(out.data(), hb::kTiming, r.timing);
    hb::put32(out.data(), hb::kAudio, r.audio);
    out[hb::kPresent] = r.timing != 49;
    out[hb::kChannel] = r.channel;
    out[hb::kClient] = r.client;
    EXPECT_TRUE(send_bytes(fd, out));
    return in;
}

// Drops the RX messages already waiting, so the next exchange answers a fresh one (a TX answers
// each message at once; the script only answers when it is told to).
void drain(int fd) {
    uint8_t buf[hb::kLen * 16];
    size_t total = 0;
    for (;;) {
        ssize_t n = recv(fd, buf, sizeof buf, MSG_DONTWAIT);
        if (n <= 0) break;
        total += static_cast<size_t>(n);
    }
    if (total % hb::kLen) read_exact(fd, buf, hb::kLen - total % hb::kLen);
}

std::vector<SeenMsg> decode_messages() { return messages(kMidVideoDecode); }

// Lets a few heartbeats pass, so that anything they would post has been posted.
void settle(int fd, TxReply& r, int n = 4) {
    for (int i = 0; i < n; ++i) exchange(fd, r);
    std::this_thread::sleep_for(100ms);
}

std::string i32(int32_t v) { return std::string(reinterpret_cast<char*>(&v), 4); }

void set_rx_channel(uint8_t ch) {
    ABS_WIFI_AP_CONFIG_t w{};
    CParamConfig::Instance()->GetWifiInfo(&w);
    w.channel = ch;
    CParamConfig::Instance()->set_wifi_ap_info(&w);
}

TEST(RxLinkTest, FollowsTheTxHeartbeatRebuildsFramesAndRelinks) {
    stream_env();
    decode_lists();
    hdext::stream::StreamHooks hooks;
    hooks.start_media = count_start;
    hdext::stream::set_hooks(hooks);
    set_rx_channel(36);
    const auto& cfg = hdext::stream::config();

    // Wi-Fi stopped, then up with no TX: the receiver keeps trying and start-up waits.
    CNetworkTask::SetWirelessStatus(WIRELESS_STATUS_STOP);
    std::atomic<bool> created{false};
    std::fflush(stdout);
    testing::internal::CaptureStdout();
    std::thread start([&] {
        CreateReceiver();
        created = true;
    });
    std::this_thread::sleep_for(300ms);
    CNetworkTask::SetWirelessStatus(WIRELESS_STATUS_STARTED);
    std::this_thread::sleep_for(300ms);
    EXPECT_FALSE(created.load());
    const int hb_l = listen_loopback(cfg.hb_port);
    const int st_l = listen_loopback(cfg.stream_port);
    int hb = accept_within(hb_l);
    ASSERT_GE(hb, 0);
    start.join();
    std::fflush(stdout);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("GetWirelessStatus==WIRELESS_STATUS_STOP\n"), std::string::npos);
    EXPECT_NE(out.find("HB connect failure \n"), std::string::npos);

    // No input at the TX: the status picture is asked for once.
    TxReply r;
    std::vector<uint8_t> first = exchange(hb, r);
    ASSERT_EQ(first.size(), 108u);
    EXPECT_EQ(hb::type(first.data()), hb::kTypeRx);
    EXPECT_EQ(first[hb::kChannel], 36);
    EXPECT_EQ(first[hb::kChanged], 0);
    settle(hb, r);
    std::vector<SeenMsg> dm = decode_messages();
    ASSERT_EQ(dm.size(), 1u);
    EXPECT_EQ(dm[0].msg_id, 0x7001u);
    EXPECT_EQ(dm[0].src, 0x4000u);
    EXPECT_EQ(dm[0].data, i32(2));
    EXPECT_EQ(app_status[16].load(), 2);
    EXPECT_EQ(app_status[2].load(), '1');
    EXPECT_EQ(g_mediaStarts.load(), 0);

    // Input appears: media start and the stream connection, once; input back for the decoder.
    r = TxReply{1920, 1080, 60, 23, 48000};
    exchange(hb, r);
    int st = accept_within(st_l);
    ASSERT_GE(st, 0);
    settle(hb, r);
    EXPECT_EQ(g_mediaStarts.load(), 1);
    EXPECT_EQ(MaxW_ATT.load(), 1920);
    EXPECT_EQ(VO_SYNC_ATT.load(), 23);
    EXPECT_EQ(AudioSampling.load(), 48000);
    dm = decode_messages();
    ASSERT_EQ(dm.size(), 2u);
    EXPECT_EQ(dm[1].msg_id, 0x7003u);
    EXPECT_EQ(dm[1].data, i32(0));

    // Timing and audio changes; an audio rate of 96001 means nothing.
    r.timing = 22;
    settle(hb, r);
    r.audio = 44100;
    settle(hb, r);
    r.audio = 96001;
    settle(hb, r);
    dm = decode_messages();
    ASSERT_EQ(dm.size(), 4u);
    EXPECT_EQ(dm[2].msg_id, 0x7002u);
    EXPECT_TRUE(dm[2].data.empty());
    EXPECT_EQ(dm[3].msg_id, 0x7004u);
    EXPECT_EQ(dm[3].data, i32(44100));

    // Frames on the stream reach the decode lists.
    {
        CDecoderProtocol proto;
        proto.CreateSendBuffer();
        frame_buff* f = alloc_frame(5000);
        frame_copy_data(f, std::vector<uint8_t>(5000, 7).data(), 5000);
        f->kind = kFrameKindVideo;
        f->pts = 77;
        EXPECT_EQ(proto.Send_Framebuff(st, 5000, 3, f), 0);
        free_frame(f);
        frame_buff* a = alloc_audio_frame(320);
        frame_copy_data(a, std::vector<uint8_t>(320, 1).data(), 320);
        a->kind = kFrameKindAudio;
        EXPECT_EQ(proto.Send_Framebuff(st, 320, 3, a), 0);
        free_audio_frame(a);
    }
    ASSERT_TRUE(wait_until([] { return frame_queue_count(g_pADecoder->m_pList) == 1; }));
    frame_buff* got = frame_dequeue(g_pDecoder->m_pList);
    ASSERT_NE(got, nullptr);
    EXPECT_EQ(got->total, 5000u);
    EXPECT_EQ(got->pts, 77u);
    free_frame(got);
    frame_queue_flush(g_pADecoder->m_pList);

    // The TX moves to channel 44: stored through the parameter task.
    r.channel = 44;
    settle(hb, r);
    std::vector<SeenMsg> pm = messages(kMidParam);
    ASSERT_EQ(pm.size(), 1u);
    EXPECT_EQ(pm[0].msg_id, 8205u);
    EXPECT_EQ(pm[0].data.size(), 8u);
    EXPECT_EQ(pm[0].data.substr(0, 4), i32(44));
    set_rx_channel(44); // what the parameter task would store

    // A channel chosen on this RX is announced in exactly one message.
    settle(hb, r);
    drain(hb);
    set_rx_channel(100);
    int announced = 0;
    for (int i = 0; i < 8; ++i) {
        drain(hb);
        std::vector<uint8_t> in = exchange(hb, r);
        if (in[hb::kChanged]) {
            ++announced;
            EXPECT_EQ(in[hb::kChannel], 100);
        }
    }
    EXPECT_EQ(announced, 1);
    EXPECT_EQ(messages(kMidParam).size(), 1u);

    // The TX drops the stream: the RX closes its heartbeat too and links again; media are not
    // started a second time.
    close(st);
    EXPECT_TRUE(closed_by_peer(hb));
    close(hb);
    hb = accept_within(hb_l);
    ASSERT_GE(hb, 0);
    EXPECT_EQ(FirstLink.load(), 2);
    exchange(hb, r);
    st = accept_within(st_l);
    ASSERT_GE(st, 0);
    settle(hb, r);
    EXPECT_EQ(FirstLink.load(), 1);
    EXPECT_EQ(g_mediaStarts.load(), 1);
    {
        std::lock_guard<std::mutex> g(gr_mutex);
        EXPECT_EQ(pReceiver->m_link, 3);
    }

    // A short fade (nothing from the TX for a moment, no reset either) leaves the link standing.
    ASSERT_TRUE(private_network()) << kNeedsRoot;
    const std::string tx_ports =
        "tcp sport { " + std::to_string(cfg.hb_port) + ", " + std::to_string(cfg.stream_port) + " }";
    ASSERT_TRUE(silence(tx_ports));
    std::this_thread::sleep_for(cfg.peer_silence / 3);
    ASSERT_TRUE(silence(""));
    settle(hb, r);
    EXPECT_EQ(exchange(hb, r).size(), hb::kLen) << "the same connection carries on";

    // The air goes silent for longer: the RX gives the link up long before its heartbeat
    // time-out and links again once the air is back.
    ASSERT_TRUE(silence(tx_ports));
    EXPECT_TRUE(wait_until([] { return !hdext::stream::rx_linked(); }, cfg.hb_timeout / 2));
    ASSERT_TRUE(silence(""));
    close(st);
    close(hb);
    hb = accept_within(hb_l);
    ASSERT_GE(hb, 0);
    exchange(hb, r);
    st = accept_within(st_l);
    EXPECT_GE(st, 0);
    close(st);
    close(hb);
    close(hb_l);
    close(st_l);
}

} // namespace
