// The stream wire format: packets as bytes on a real TCP connection, and frame rebuilding.
#include <gtest/gtest.h>

#include <thread>

#include "decode/audio_decoder.h"
#include "decode/video_decoder.h"
#include "stream/sender.h"
#include "stream_env.h"

using namespace stream_test;

namespace {

struct TcpPair {
    int tx = -1, rx = -1;
    TcpPair() {
        const int l = listen_loopback();
        tx = connect_from("127.0.0.1", bound_port(l));
        rx = accept(l, nullptr, nullptr);
        close(l);
    }
    ~TcpPair() {
        close(tx);
        close(rx);
    }
};

uint32_t be32(const uint8_t* p) { return (uint32_t{p[0]} << 24) | (p[1] << 16) | (p[2] << 8) | p[3]; }

frame_buff* video_frame(uint32_t size, uint64_t pts, uint8_t seed) {
    frame_buff* f = alloc_frame(size);
    std::vector<uint8_t> bytes(size);
    for (uint32_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(seed + i * 7);
    EXPECT_EQ(frame_copy_data(f, bytes.data(), size), static_cast<int>(size));
    f->pts = pts;
    f->kind = kFrameKindVideo;
    return f;
}

// Outer header + body of a scripted packet.
std::vector<uint8_t> packet(int type, uint32_t frame_size, uint32_t payload, uint64_t pts, uint8_t fill = 1) {
    std::vector<uint8_t> body(32 + payload, fill);
    std::fill(body.begin(), body.begin() + 32, 0);
    for (int i = 0; i < 4; ++i) {
        body[4 + i] = static_cast<uint8_t>(frame_size >> (24 - 8 * i));
        body[12 + i] = static_cast<uint8_t>(payload >> (24 - 8 * i));
    }
    body[16] = static_cast<uint8_t>(type);
    for (int i = 0; i < 8; ++i) body[24 + i] = static_cast<uint8_t>(pts >> (56 - 8 * i));
    const uint32_t n = static_cast<uint32_t>(body.size());
    std::vector<uint8_t> out = {0x24, 1, static_cast<uint8_t>(n >> 16), static_cast<uint8_t>(n >> 8),
                                static_cast<uint8_t>(n)};
    out.reserve(out.size() + body.size()); // g++ 12 -O2 misreads a growing insert
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

void write_all(int fd, const std::vector<uint8_t>& b) {
    ASSERT_EQ(hdext::stream::send_all(fd, b.data(), static_cast<int>(b.size())), static_cast<int>(b.size()));
}

class WireTest : public ::testing::Test {
protected:
    void SetUp() override {
        stream_env();
        decode_lists();
        base = {pool(kFrameKindVideo, false).used, pool(kFrameKindVideo, true).used, pool(kFrameKindAudio, true).used};
    }
    void TearDown() override {
        frame_queue_flush(g_pDecoder->m_pList);
        frame_queue_flush(g_pADecoder->m_pList);
        // Every record and block the reader took is back.
        EXPECT_EQ(base, (std::vector<int>{pool(kFrameKindVideo, false).used, pool(kFrameKindVideo, true).used,
                                          pool(kFrameKindAudio, true).used}));
    }
    // Frames the reader handed to the video decoder: (size, time stamp, last byte).
    std::vector<std::tuple<uint32_t, uint64_t, uint8_t>> decoded() {
        std::vector<std::tuple<uint32_t, uint64_t, uint8_t>> out;
        while (frame_buff* f = frame_dequeue(g_pDecoder->m_pList)) {
            std::vector<uint8_t> bytes(f->total + 1);
            frame_gather(f, bytes.data(), f->total);
            out.emplace_back(f->total, f->pts, f->total ? bytes[f->total - 1] : 0);
            free_frame(f);
        }
        return out;
    }
    std::vector<int> base;
};

TEST_F(WireTest, FramesBecomeThePacketsOfTheWireByteForByteAndComeBackWhole) {
    TcpPair p;
    frame_buff_head video, audio;
    init_frame_buff_head(&video);
    init_frame_buff_head(&audio);
    CSender s;
    s.m_sock = p.tx;
    s.SetFrameHead(&video, &audio);
    s.m_pAenc = reinterpret_cast<CAudioEncoderTask*>(&audio); // only tested for null
    ASSERT_EQ(s.CreateProtocol(), 0);
    frame_queue_tail(&video, video_frame(5000, 0x0102030405060708ull, 1));
    frame_queue_tail(&video, video_frame(150000, 2, 2));
    frame_queue_tail(&video, video_frame(204800, 3, 3));
    frame_buff* a = alloc_audio_frame(320);
    frame_copy_data(a, std::vector<uint8_t>(320, 0xD5).data(), 320);
    a->kind = kFrameKindAudio;
    a->pts = 4;
    frame_queue_tail(&audio, a);
    for (int i = 0; i < 3; ++i) ASSERT_EQ(s.Send(), 0);
    ASSERT_EQ(s.SendAud(), 0);
    EXPECT_EQ(s.Send(), kSendIdle);
    EXPECT_EQ(s.SendAud(), kSendIdle);

    std::vector<uint8_t> raw(7 * 5 + 5032 + 102432 + 47632 + 2 * 102432 + 32 + 352);
    ASSERT_TRUE(read_exact(p.rx, raw.data(), raw.size()));
    const uint8_t first[5] = {0x24, 0x01, 0x00, 0x13, 0xA8};
    EXPECT_EQ(0, std::memcmp(raw.data(), first, 5));
    EXPECT_EQ(be32(&raw[5 + 24]), 0x01020304u);
    EXPECT_EQ(be32(&raw[5 + 28]), 0x05060708u);
    // channel, type, packet number, media flag, frame size, payload length of each packet
    const std::vector<std::array<uint32_t, 6>> want = {
        {1, 3, 1, 0, 5000, 5000},       {1, 1, 1, 0, 150000, 102400}, {1, 2, 1, 0, 150000, 47600},
        {1, 1, 1, 0, 204800, 102400},   {1, 0, 1, 0, 204800, 102400}, {1, 2, 2, 0, 204800, 0},
        {0, 1, 0, 0x80, 320, 320}};
    std::vector<std::array<uint32_t, 6>> got;
    for (size_t at = 0; at + 5 <= raw.size();) {
        const uint8_t* b = &raw[at + 5];
        const uint32_t n = (raw[at + 2] << 16) | (raw[at + 3] << 8) | raw[at + 4];
        got.push_back({raw[at + 1], b[16], b[9], b[8], be32(b + 4), be32(b + 12)});
        EXPECT_EQ(n, 32 + be32(b + 12));
        EXPECT_TRUE(std::all_of(b + 17, b + 24, [](uint8_t v) { return v == 0; }));
        at += 5 + n;
    }
    EXPECT_EQ(got, want);

    TcpPair replay;
    write_all(replay.tx, raw);
    shutdown(replay.tx, SHUT_WR);
    hdext::stream::run_stream_reader(replay.rx);
    using F = std::tuple<uint32_t, uint64_t, uint8_t>;
    EXPECT_EQ(decoded(), (std::vector<F>{{5000, 0x0102030405060708ull, uint8_t(1 + 4999 * 7)},
                                         {150000, 2, uint8_t(2 + 149999 * 7)},
                                         {204800, 3, uint8_t(3 + 204799 * 7)}}));
    frame_buff* heard = frame_dequeue(g_pADecoder->m_pList);
    ASSERT_NE(heard, nullptr);
    EXPECT_EQ(heard->len, 320u);
    EXPECT_EQ(heard->kind, kFrameKindAudio);
    EXPECT_EQ(heard->pts, 4u);
    free_audio_frame(heard);
    s.ReleaseFrameHead();
    delete s.m_pProtocol;
}

TEST_F(WireTest, AMissingMiddlePacketDropsOnlyItsFrame) {
    TcpPair p;
    for (const auto& b : {packet(1, 250000, 102400, 10), /* middle lost */ packet(2, 250000, 45200, 10),
                          packet(3, 7000, 7000, 11, 2), packet(1, 150000, 102400, 12), packet(2, 150000, 47600, 12, 3),
                          // no start; a start overrunning its frame; an unknown type
                          packet(2, 100, 100, 13), packet(1, 10, 20, 14), packet(2, 10, 0, 14), packet(9, 10, 10, 15),
                          packet(3, 64, 64, 16, 6)})
        write_all(p.tx, b);
    shutdown(p.tx, SHUT_WR);
    hdext::stream::run_stream_reader(p.rx);
    using F = std::tuple<uint32_t, uint64_t, uint8_t>;
    EXPECT_EQ(decoded(), (std::vector<F>{{7000, 11, 2}, {150000, 12, 3}, {64, 16, 6}}));
}

TEST_F(WireTest, FramingErrorsEndTheConnectionWithNothingLeftAllocated) {
    std::vector<uint8_t> marker = packet(3, 8, 8, 1);
    marker[0] = '#';
    std::vector<uint8_t> disagree = packet(3, 8, 8, 1);
    disagree[5 + 15] = 9; // payload length 9 in an 8-byte payload
    const std::vector<std::pair<const char*, std::vector<uint8_t>>> cases = {
        {"zero body", {0x24, 1, 0, 0, 0}},
        {"bad marker", marker},
        {"over limit", {0x24, 1, 0x01, 0x90, 0x21}}, // 102433
        {"payload length", disagree},
        {"short body", {0x24, 1, 0, 0, 4, 0, 0, 0, 0}}};
    for (const auto& [what, bad] : cases) {
        SCOPED_TRACE(what);
        TcpPair p;
        std::atomic<bool> done{false};
        std::thread reader([&] {
            hdext::stream::run_stream_reader(p.rx);
            done = true;
        });
        write_all(p.tx, packet(1, 150000, 102400, 1)); // a frame under assembly
        write_all(p.tx, bad);
        write_all(p.tx, std::vector<uint8_t>(20000, 0x24)); // never read as packets
        write_all(p.tx, packet(3, 16, 16, 2));
        EXPECT_TRUE(wait_until([&] { return done.load(); })) << "the reader did not stop at the fault";
        shutdown(p.tx, SHUT_WR);
        reader.join();
        EXPECT_TRUE(decoded().empty());
    }
}

} // namespace
