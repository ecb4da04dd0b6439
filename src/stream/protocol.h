// The stream connection's byte layout: "$"-framed packets, each a 5-byte outer header and a
// body of a 32-byte inner header plus up to 102400 payload bytes. CDecoderProtocol cuts frames
// into packets on the TX; Recv_Data_Over_Tcp and StreamAssembler rebuild them on the RX.
#pragma once
#include <atomic>
#include <cstdint>

#include "core/frame.h"

inline constexpr int kStreamChunk = 102400;                // payload bytes per packet
inline constexpr int kStreamInnerHeader = 32;
inline constexpr int kStreamBodyMax = kStreamInnerHeader + kStreamChunk; // 102432
inline constexpr int kStreamOuterHeader = 5;
inline constexpr uint8_t kStreamMarker = 0x24;

// FU_HEADER_TYPE_E, plus 3 (a whole frame in one packet) which exists only on the wire.
enum FU_HEADER_TYPE_E : int { FU_MIDDLE = 0, FU_START = 1, FU_END = 2, FU_ENTIRE = 3 };

// Inner header offsets.
inline constexpr int kInIndex = 0, kInFrameSize = 4, kInMedia = 8, kInPacketNo = 9,
                     kInPayloadLen = 12, kInType = 16, kInPts = 24;
inline constexpr uint8_t kMediaAudio = 0x80;
// The fields tile the inner header, and the longest body fits the outer header's 24-bit length.
static_assert(kInFrameSize == kInIndex + 4 && kInMedia == kInFrameSize + 4 && kInPacketNo == kInMedia + 1);
static_assert(kInPayloadLen == kInPacketNo + 3 && kInType == kInPayloadLen + 4);
static_assert(kInPts + 8 == kStreamInnerHeader);
static_assert(kStreamBodyMax < (1 << 24));

// One per stream connection, owned by that connection's sending thread; no lock needed.
class CDecoderProtocol {
public:
    CDecoderProtocol() = default;
    ~CDecoderProtocol();
    CDecoderProtocol(const CDecoderProtocol&) = delete;
    CDecoderProtocol& operator=(const CDecoderProtocol&) = delete;

    // Allocates the packet buffer once; 0 (also when it already exists).
    int CreateSendBuffer();
    void DestroySendBuffer();
    // Outer header, then the body; the length on success, else the failing send's result.
    int Send_Data_Over_TCP(int sock, unsigned char* body, int length, int channel);
    // One buffer of a frame as packets; mode is its place in the frame (FU_HEADER_TYPE_E).
    // 0 when every packet went out, -1 at the first failure. Blocks in send.
    int Send_Framebuff(int sock, int frame_size, int mode, frame_buff* buf);
    int RecvStream(int) { return 0; }

    unsigned char* m_pSendBuf = nullptr;
};

// Set while the stream reader holds a valid "$" header (cleared at every read).
extern std::atomic<int> g_StreamHeaderSeen;

// One packet's body into buf (capacity bytes): its length, 0 for an empty body, below 1 on a
// closed socket, a read error, a bad marker or a body longer than capacity. Blocks.
int Recv_Data_Over_Tcp(int sock, char* buf, int capacity);

// Frame rebuild of one stream connection: audio and whole frames go to the decode lists at
// once, split frames when their end packet completes them. Reader thread only.
class StreamAssembler {
public:
    // stream: the number of the connection the frames come on; the decode task takes a new
    // number for a new time base.
    explicit StreamAssembler(uint32_t stream = 1) : m_stream(stream) {}
    ~StreamAssembler() { Reset(); }
    // One packet body of n bytes. -1 when its payload length disagrees with n (the connection
    // must end); 0 otherwise, including for dropped packets.
    int OnPacket(const uint8_t* body, int n);
    // Frees a frame still under assembly.
    void Reset();

private:
    void Dispatch(frame_buff* frame);

    uint32_t m_stream;
    frame_buff* m_frame = nullptr;
    uint32_t m_frameSize = 0;
    uint64_t m_count = 0;
};

namespace hdext::stream {
// The packet loop of one stream connection: reads and rebuilds until a read or a packet
// fails, then frees what is still under assembly. Blocks; reader thread.
void run_stream_reader(int sock);
} // namespace hdext::stream
