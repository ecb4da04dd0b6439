#include "stream/protocol.h"

#include <sys/socket.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/byte_order.h"
#include "core/dump_print.h"
#include "decode/audio_decoder.h"
#include "decode/video_decoder.h"
#include "periph/usb_state.h"

std::atomic<int> g_StreamHeaderSeen{0};

namespace {

void put_be32(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v >> 24);
    p[1] = static_cast<uint8_t>(v >> 16);
    p[2] = static_cast<uint8_t>(v >> 8);
    p[3] = static_cast<uint8_t>(v);
}

uint32_t get_be32(const uint8_t* p) {
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

void put_be64(uint8_t* p, uint64_t v) {
    const uint64_t be = htonll(v);
    std::memcpy(p, &be, 8);
}

uint64_t get_be64(const uint8_t* p) {
    uint64_t be;
    std::memcpy(&be, p, 8);
    return ntohll(be);
}

// A partial send would cut a packet in two on the wire, so the rest is always written.
// Returns n, or the failing call's result (0 or negative).
int send_all(int sock, const uint8_t* p, int n, int flags) {
    int done = 0;
    while (done < n) {
        ssize_t r = send(sock, p + done, static_cast<size_t>(n - done), flags | MSG_NOSIGNAL);
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) return static_cast<int>(r);
        done += static_cast<int>(r);
    }
    return n;
}

int recv_all(int sock, uint8_t* p, int n) {
    int done = 0;
    while (done < n) {
        ssize_t r = recv(sock, p + done, static_cast<size_t>(n - done), 0);
        if (r < 0 && errno == EINTR) continue;
        if (r < 1) return static_cast<int>(r);
        done += static_cast<int>(r);
    }
    return n;
}

} // namespace

CDecoderProtocol::~CDecoderProtocol() { DestroySendBuffer(); }

int CDecoderProtocol::CreateSendBuffer() {
    if (m_pSendBuf) return 0;
    m_pSendBuf = static_cast<unsigned char*>(std::calloc(1, kStreamBodyMax));
    if (!m_pSendBuf) return -1;
    std::printf("Create send packet buffer successful !!!!!!\n");
    return 0;
}

void CDecoderProtocol::DestroySendBuffer() {
    std::free(m_pSendBuf);
    m_pSendBuf = nullptr;
}

int CDecoderProtocol::Send_Data_Over_TCP(int sock, unsigned char* body, int length, int channel) {
    const uint8_t head[kStreamOuterHeader] = {kStreamMarker, static_cast<uint8_t>(channel),
                                              static_cast<uint8_t>(length >> 16),
                                              static_cast<uint8_t>(length >> 8), static_cast<uint8_t>(length)};
    // MSG_MORE keeps the 5 header bytes in the body's first segment.
    int r = send_all(sock, head, kStreamOuterHeader, MSG_MORE);
    if (r < kStreamOuterHeader) {
        std::printf("1111111 send package Head fail errno = %s\n", std::strerror(errno));
        return r < 0 ? r : (r == 0 ? 0 : -1);
    }
    r = send_all(sock, body, length, 0);
    if (r < length) {
        std::printf("111111 send frame data fail errno = %s\n", std::strerror(errno));
        return r;
    }
    return length;
}

int CDecoderProtocol::Send_Framebuff(int sock, int frame_size, int mode, frame_buff* buf) {
    if (!m_pSendBuf || !buf) return -1;
    uint8_t* h = m_pSendBuf;
    std::memset(h, 0, kStreamInnerHeader);
    put_be32(h + kInIndex, buf->index & 0xFF);
    put_be32(h + kInFrameSize, static_cast<uint32_t>(frame_size));
    put_be64(h + kInPts, buf->pts);
    const uint32_t len = buf->len;
    const uint8_t* src = buf->rd;
    uint8_t packet_no = 0;

    auto send_packet = [&](uint32_t off, uint32_t n, int type, int channel) {
        h[kInPacketNo] = packet_no;
        h[kInType] = static_cast<uint8_t>(type);
        put_be32(h + kInPayloadLen, n);
        if (n) std::memcpy(h + kStreamInnerHeader, src + off, n);
        return Send_Data_Over_TCP(sock, h, static_cast<int>(kStreamInnerHeader + n), channel) > 0;
    };

    if ((buf->kind >> 8) == 2) {
        // Audio frames are never split; one that would not fit is refused whole.
        if (len > static_cast<uint32_t>(kStreamChunk)) return -1;
        h[kInMedia] = kMediaAudio;
        if (!send_packet(0, len, FU_START, 0)) {
            std::printf("0 sendmsg failed: %d\n", sock);
            return -1;
        }
        return 0;
    }
    const bool opens = mode == FU_START || mode == FU_ENTIRE;
    if (opens && len <= static_cast<uint32_t>(kStreamChunk)) {
        packet_no = 1;
        if (!send_packet(0, len, mode, 1)) {
            std::printf("%d sendmsg failed: %d\n", mode == FU_START ? 1 : 3, sock);
            return -1;
        }
        return 0;
    }
    const uint32_t full = len / kStreamChunk;
    const uint32_t rest = len % kStreamChunk;
    for (uint32_t i = 0; i < full; ++i) {
        ++packet_no;
        const bool first = i == 0 && opens;
        if (!send_packet(i * kStreamChunk, kStreamChunk, first ? FU_START : FU_MIDDLE, 1)) {
            if (first && mode == FU_START) std::printf("2 sendmsg failed: %d\n", sock);
            else if (first) std::printf("4 sendmsg failed : %d\n", sock);
            else std::printf("5 sendmsg failed: %d\n", sock);
            return -1;
        }
    }
    const int last = (mode == FU_END || mode == FU_ENTIRE) ? FU_END : FU_MIDDLE;
    if (rest > 0 || last == FU_END) {
        ++packet_no;
        if (!send_packet(full * kStreamChunk, rest, last, 1)) {
            std::printf("6 sendmsg failed: %d\n", sock);
            return -1;
        }
    }
    return 0;
}

int Recv_Data_Over_Tcp(int sock, char* buf, int capacity) {
    g_StreamHeaderSeen.store(0, std::memory_order_relaxed);
    uint8_t head[kStreamOuterHeader];
    int r = recv_all(sock, head, kStreamOuterHeader);
    if (r < 1) {
        DUMP(3, "111 5 byte sockfd: %d, recv_size: %d\n", sock, r);
        return r;
    }
    if (head[0] != kStreamMarker) {
        DUMP(3, "111 frameHeader[0] != $ \n");
        return -1;
    }
    g_StreamHeaderSeen.store(1, std::memory_order_relaxed);
    const int len = (head[2] << 16) | (head[3] << 8) | head[4];
    if (len == 0) return 0;
    if (len > capacity) return -1;
    r = recv_all(sock, reinterpret_cast<uint8_t*>(buf), len);
    if (r < 1) {
        DUMP(3, "111 av packet sockfd: %d, recv_size: %d\n", sock, r);
        return r;
    }
    return len;
}

void StreamAssembler::Reset() {
    if (m_frame) free_frame(m_frame);
    m_frame = nullptr;
    m_frameSize = 0;
    m_count = 0;
}

void StreamAssembler::Dispatch(frame_buff* frame) {
    if (!g_pDecoder) return;
    frame->user[kFrameUserStream] = m_stream;
    g_pDecoder->DispatchFrameToList(frame);
    if (RtmpEn.load(std::memory_order_relaxed)) g_pDecoder->RtmpDispatchFrameToList(frame);
}

int StreamAssembler::OnPacket(const uint8_t* body, int n) {
    if (n < kStreamInnerHeader) return -1;
    const uint32_t payload = get_be32(body + kInPayloadLen);
    if (payload != static_cast<uint32_t>(n - kStreamInnerHeader)) return -1;
    const uint8_t* data = body + kStreamInnerHeader;
    const uint64_t pts = get_be64(body + kInPts);

    if (body[kInMedia] == kMediaAudio) {
        frame_buff* a = alloc_audio_frame(payload);
        if (!a) return 0;
        frame_copy_data(a, data, payload);
        a->pts = pts;
        a->kind = kFrameKindAudio;
        a->param = 0;
        a->aux = 0;
        if (g_pADecoder) {
            g_pADecoder->DispatchAFrameToList(a);
            if (RtmpEn.load(std::memory_order_relaxed)) g_pADecoder->RtmpDispatchAFrameToList(a);
        }
        free_audio_frame(a);
        return 0;
    }

    int ret;
    switch (body[kInType]) {
    case FU_START:
        Reset();
        m_frameSize = get_be32(body + kInFrameSize);
        m_frame = alloc_frame(m_frameSize);
        if (!m_frame || payload > m_frameSize) {
            Reset(); // abandoned until the next start packet
            break;
        }
        ret = frame_copy_data(m_frame, data, payload);
        if (ret != static_cast<int>(payload))
            std::printf("111111...... start packet copy failed, payload=%d, frame_size=%d, ret=%d\n",
                        static_cast<int>(payload), static_cast<int>(m_frameSize), ret);
        m_frame->pts = pts;
        m_frame->kind = kFrameKindVideo;
        m_count = payload;
        break;
    case FU_MIDDLE:
        m_count += payload;
        if (m_frame && m_count <= m_frameSize) {
            ret = frame_copy_data(m_frame, data, payload);
            if (ret != static_cast<int>(payload))
                std::printf("222222...... start packet copy failed, payload=%d, frame_size=%d, ret=%d\n",
                            static_cast<int>(payload), static_cast<int>(m_frameSize), ret);
        }
        break;
    case FU_END:
        m_count += payload;
        if (!m_frame) break;
        if (m_count == m_frameSize) {
            ret = frame_copy_data(m_frame, data, payload);
            if (ret != static_cast<int>(payload))
                std::printf("333333...... start packet copy failed, payload=%d, frame_size=%d, ret=%d\n",
                            static_cast<int>(payload), static_cast<int>(m_frameSize), ret);
            Dispatch(m_frame);
        }
        Reset();
        break;
    case FU_ENTIRE: {
        frame_buff* f = alloc_frame(payload);
        if (!f) break;
        ret = frame_copy_data(f, data, payload);
        if (ret != static_cast<int>(payload))
            std::printf("444444...... entire packet copy failed, frame_size=%d, ret=%d\n",
                        static_cast<int>(payload), ret);
        f->pts = pts;
        f->kind = kFrameKindVideo;
        Dispatch(f);
        free_frame(f);
        break;
    }
    default:
        std::printf("Error Unknown type package\n");
        break;
    }
    return 0;
}

namespace hdext::stream {

void run_stream_reader(int sock) {
    static std::atomic<uint32_t> connections{0};
    char body[kStreamBodyMax];
    StreamAssembler assembler(++connections);
    for (;;) {
        const int n = Recv_Data_Over_Tcp(sock, body, kStreamBodyMax);
        if (n < 1) break;
        if (assembler.OnPacket(reinterpret_cast<const uint8_t*>(body), n) < 0) break;
    }
}

} // namespace hdext::stream
