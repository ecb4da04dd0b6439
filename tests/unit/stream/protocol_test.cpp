// The stream wire format: packets as bytes on a real TCP connection, and frame rebuilding.
#include <gtest/gtest.h>

#include <thread>

#include "decode/audio_decoder.h"
#include "decode/video_decoder.h"
#include "stream/protocol.h"
#include "stream/sender.h"
#include "stream_env.h"

using namespace stream_test;

namespace {

struct TcpPair {
    int tx = -1, rx = -1;
    TcpPair() {
        int l = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(l, reinterpret_cast<sockaddr*>(&a), sizeof a);
        socklen_t len = sizeof a;
        getsockname(l, reinterpret_cast<sockaddr*>(&a), &len);
        listen(l, 1);
        tx = socket(AF_INET, SOCK_STREAM, 0);
        connect(tx, reinterpret_cast<sockaddr*>(&a), sizeof a);
        rx = accept(l, nullptr, nullptr);
        close(l);
    }
    ~TcpPair() {
        if (tx >= 0) close(tx);
        if (rx >= 0) close(rx);
    }
    void close_tx() {
        shutdown(tx, SHUT_WR);
    }
};

uint32_t be32(const uint8_t* p) { return (uint32_t{p[0]} << 24) | (p[1] << 16) | (p[2] << 8) | p[3]; }
uint64_t be64(const uint8_t* p) { return (uint64_t{be32(p)} << 32) | be32(p + 4); }

frame_buff* video_frame(uint32_t size, uint64_t pts, uint8_t seed) {
    frame_buff* f = alloc_frame(size);
    std::vector<uint8_t> bytes(size);
    for (uint32_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(seed + i * 7);
    EXPECT_EQ(frame_copy_data(f, bytes.data(), size), static_cast<int>(size));
    f->pts = pts;
    f->kind = kFrameKindVideo;
    return f;
}

struct Packet {
    uint8_t channel;
    std::vector<uint8_t> body;
    uint32_t frame_size() const { return be32(&body[4]); }
    uint32_t payload() const { return be32(&body[12]); }
    uint8_t type() const { return body[16]; }
    uint8_t number() const { return body[9]; }
    uint8_t media() const { return body[8]; }
    uint64_t pts() const { return be64(&body[24]); }
};

std::vector<Packet> read_packets(int fd, size_t count) {
    std::vector<Packet> out;
    for (size_t i = 0; i < count; ++i) {
        uint8_t head[5];
        if (!read_exact(fd, head, 5)) break;
        EXPECT_EQ(head[0], 0x24);
        Packet p{head[1], std::vector<uint8_t>((head[2] << 16) | (head[3] << 8) | head[4])};
        if (!read_exact(fd, p.body.data(), p.body.size())) break;
        out.push_back(std::move(p));
    }
    return out;
}

// Outer header + body as sent, for scripted streams.
std::vector<uint8_t> packet(int type, uint32_t frame_size, const std::vector<uint8_t>& payload, uint64_t pts,
                            bool audio = false) {
    std::vector<uint8_t> body(32, 0);
    auto put = [&](int off, uint32_t v) {
        for (int i = 0; i < 4; ++i) body[off + i] = static_cast<uint8_t>(v >> (24 - 8 * i));
    };
    put(4, frame_size);
    body[8] = audio ? 0x80 : 0;
    put(12, static_cast<uint32_t>(payload.size()));
    body[16] = static_cast<uint8_t>(type);
    put(24, static_cast<uint32_t>(pts >> 32));
    put(28, static_cast<uint32_t>(pts));
    body.insert(body.end(), payload.begin(), payload.end());
    const uint32_t n = static_cast<uint32_t>(body.size());
    std::vector<uint8_t> out = {0x24, static_cast<uint8_t>(audio ? 0 : 1), static_cast<uint8_t>(n >> 16),
                                static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(n)};
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

std::vector<uint8_t> bytes_of(uint32_t n, uint8_t v) { return std::vector<uint8_t>(n, v); }

void write_all(int fd, const std::vector<uint8_t>& b) {
    ASSERT_EQ(hdext::stream::send_all(fd, b.data(), static_cast<int>(b.size())), static_cast<int>(b.size()));
}

class WireTest : public ::testing::Test {
protected:
    void SetUp() override {
        stream_env();
        if (!g_pDecoder) {
            g_pDecoder = new CMediaDecoder();
            g_pDecoder->InitList(200);
            g_pADecoder = new CAudioDecoderTask();
            g_pADecoder->InitList(200);
        }
        base_head = pool(kFrameKindVideo, false);
        base_buf = pool(kFrameKindVideo, true);
        base_audio = pool(kFrameKindAudio, true);
    }
    void TearDown() override {
        frame_queue_flush(g_pDecoder->m_pList);
        frame_queue_flush(g_pADecoder->m_pList);
        // Every record and block the reader took is back.
        EXPECT_EQ(pool(kFrameKindVideo, false).used, base_head.used);
        EXPECT_EQ(pool(kFrameKindVideo, true).used, base_buf.used);
        EXPECT_EQ(pool(kFrameKindAudio, true).used, base_audio.used);
    }
    std::vector<std::pair<uint32_t, uint64_t>> decoded() {
        std::vector<std::pair<uint32_t, uint64_t>> out;
        while (frame_buff* f = frame_dequeue(g_pDecoder->m_pList)) {
            out.emplace_back(f->total, f->pts);
            free_frame(f);
        }
        return out;
    }
    MEMPOOL_STATS base_head{}, base_buf{}, base_audio{};
};

TEST_F(WireTest, FramesBecomeThePacketsOfTheWireByteForByteAndComeBackWhole) {
    TcpPair p;
    frame_buff_head video, audio;
    init_frame_buff_head(&video);
    init_frame_buff_head(&audio);
    CSender s;
    s.m_sock = p.tx;
    s.SetFrameHead(&video, &audio);
    CAudioEncoderTask* fake_aenc = reinterpret_cast<CAudioEncoderTask*>(&audio); // only tested for null
    s.m_pAenc = fake_aenc;
    ASSERT_EQ(s.CreateProtocol(), 0);

    frame_queue_tail(&video, video_frame(5000, 0x0102030405060708ull, 1));
    frame_queue_tail(&video, video_frame(150000, 2, 2));
    frame_queue_tail(&video, video_frame(204800, 3, 3));
    frame_buff* a = alloc_audio_frame(320);
    std::vector<uint8_t> pcm(320, 0xD5);
    frame_copy_data(a, pcm.data(), 320);
    a->kind = kFrameKindAudio;
    a->pts = 4;
    frame_queue_tail(&audio, a);
    for (int i = 0; i < 3; ++i) ASSERT_EQ(s.Send(), 0);
    ASSERT_EQ(s.SendAud(), 0);
    EXPECT_EQ(s.Send(), kSendIdle);
    EXPECT_EQ(s.SendAud(), kSendIdle);

    // Capture the raw stream first, then replay it into the reader.
    std::vector<uint8_t> raw;
    {
        std::vector<uint8_t> buf(5 + 5032 + 2 * 5 + 102432 + 47632 + 3 * 5 + 2 * 102432 + 32 + 5 + 352);
        ASSERT_TRUE(read_exact(p.rx, buf.data(), buf.size()));
        raw = buf;
    }
    const uint8_t first[5] = {0x24, 0x01, 0x00, 0x13, 0xA8};
    EXPECT_EQ(0, std::memcmp(raw.data(), first, 5));
    {
        TcpPair replay;
        write_all(replay.tx, raw);
        std::vector<Packet> pk = read_packets(replay.rx, 7);
        ASSERT_EQ(pk.size(), 7u);
        // 5000 bytes: one entire packet.
        EXPECT_EQ(pk[0].type(), 3);
        EXPECT_EQ(pk[0].number(), 1);
        EXPECT_EQ(pk[0].frame_size(), 5000u);
        EXPECT_EQ(pk[0].payload(), 5000u);
        EXPECT_EQ(pk[0].pts(), 0x0102030405060708ull);
        EXPECT_EQ(pk[0].channel, 1);
        EXPECT_TRUE(std::all_of(pk[0].body.begin() + 10, pk[0].body.begin() + 12, [](uint8_t b) { return b == 0; }));
        EXPECT_TRUE(std::all_of(pk[0].body.begin() + 17, pk[0].body.begin() + 24, [](uint8_t b) { return b == 0; }));
        EXPECT_EQ(pk[0].body[32 + 4999], static_cast<uint8_t>(1 + 4999 * 7));
        // 150000 bytes: start 102400, end 47600.
        EXPECT_EQ(pk[1].type(), 1);
        EXPECT_EQ(pk[1].payload(), 102400u);
        EXPECT_EQ(pk[1].frame_size(), 150000u);
        EXPECT_EQ(pk[2].type(), 2);
        EXPECT_EQ(pk[2].payload(), 47600u);
        EXPECT_EQ(pk[2].frame_size(), 150000u);
        // 204800 bytes: start, middle, empty end.
        EXPECT_EQ(pk[3].type(), 1);
        EXPECT_EQ(pk[4].type(), 0);
        EXPECT_EQ(pk[4].payload(), 102400u);
        EXPECT_EQ(pk[5].type(), 2);
        EXPECT_EQ(pk[5].payload(), 0u);
        EXPECT_EQ(pk[5].body.size(), 32u);
        // Audio: flag 0x80, type 1, packet number 0, channel 0.
        EXPECT_EQ(pk[6].channel, 0);
        EXPECT_EQ(pk[6].media(), 0x80);
        EXPECT_EQ(pk[6].type(), 1);
        EXPECT_EQ(pk[6].number(), 0);
        EXPECT_EQ(pk[6].payload(), 320u);
        EXPECT_EQ(pk[6].frame_size(), 320u);
    }
    TcpPair replay;
    write_all(replay.tx, raw);
    replay.close_tx();
    hdext::stream::run_stream_reader(replay.rx);
    std::vector<std::pair<uint32_t, uint64_t>> got;
    while (frame_buff* f = frame_dequeue(g_pDecoder->m_pList)) {
        std::vector<uint8_t> bytes(f->total);
        frame_gather(f, bytes.data(), f->total);
        const uint8_t seed = static_cast<uint8_t>(got.size() + 1);
        EXPECT_EQ(bytes.back(), static_cast<uint8_t>(seed + (f->total - 1) * 7)) << f->total;
        got.emplace_back(f->total, f->pts);
        free_frame(f);
    }
    const std::vector<std::pair<uint32_t, uint64_t>> want = {{5000, 0x0102030405060708ull}, {150000, 2}, {204800, 3}};
    EXPECT_EQ(got, want);
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
    write_all(p.tx, packet(1, 250000, bytes_of(102400, 1), 10));
    // the middle packet is lost
    write_all(p.tx, packet(2, 250000, bytes_of(45200, 1), 10));
    write_all(p.tx, packet(3, 7000, bytes_of(7000, 2), 11));
    write_all(p.tx, packet(1, 150000, bytes_of(102400, 3), 12));
    write_all(p.tx, packet(2, 150000, bytes_of(47600, 3), 12));
    // A middle or end without a start is ignored; a start whose payload overruns its frame is
    // abandoned together with its end.
    write_all(p.tx, packet(2, 100, bytes_of(100, 4), 13));
    write_all(p.tx, packet(1, 10, bytes_of(20, 5), 14));
    write_all(p.tx, packet(2, 10, bytes_of(0, 5), 14));
    write_all(p.tx, packet(9, 10, bytes_of(10, 5), 15));
    write_all(p.tx, packet(3, 64, bytes_of(64, 6), 16));
    p.close_tx();
    hdext::stream::run_stream_reader(p.rx);
    const std::vector<std::pair<uint32_t, uint64_t>> want = {{7000, 11}, {150000, 12}, {64, 16}};
    EXPECT_EQ(decoded(), want);
}

TEST_F(WireTest, FramingErrorsEndTheConnectionWithNothingLeftAllocated) {
    struct Case {
        const char* what;
        std::vector<uint8_t> bad;
    };
    std::vector<uint8_t> zero = {0x24, 1, 0, 0, 0};
    std::vector<uint8_t> marker = packet(3, 8, bytes_of(8, 1), 1);
    marker[0] = '#';
    std::vector<uint8_t> too_long = {0x24, 1, 0x01, 0x90, 0x21}; // 102433
    std::vector<uint8_t> disagree = packet(3, 8, bytes_of(8, 1), 1);
    disagree[5 + 15] = 9; // payload length 9 in an 8-byte payload
    std::vector<uint8_t> short_body = {0x24, 1, 0, 0, 4, 0, 0, 0, 0};
    for (const Case& c : {Case{"zero body", zero}, Case{"bad marker", marker}, Case{"over limit", too_long},
                          Case{"payload length", disagree}, Case{"short body", short_body}}) {
        SCOPED_TRACE(c.what);
        TcpPair p;
        std::atomic<bool> done{false};
        std::thread reader([&] {
            hdext::stream::run_stream_reader(p.rx);
            done = true;
        });
        write_all(p.tx, packet(1, 150000, bytes_of(102400, 1), 1)); // a frame under assembly
        write_all(p.tx, c.bad);
        write_all(p.tx, bytes_of(20000, 0x24)); // whatever follows is never read as packets
        write_all(p.tx, packet(3, 16, bytes_of(16, 2), 2));
        EXPECT_TRUE(wait_until([&] { return done.load(); })) << "the reader did not stop at the fault";
        p.close_tx();
        reader.join();
        EXPECT_TRUE(decoded().empty());
    }
}

} // namespace
