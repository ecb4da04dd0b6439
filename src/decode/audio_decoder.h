// RX audio decode: G.711 A-law frames from the stream receiver played on the HDMI and SDI
// audio outputs. The receiver appends from its reader thread; the decoding thread owns the rest.
#pragma once
#include <atomic>
#include <cstdint>

#include "core/frame.h"

// Time stamp of the last audio frame taken from the decode list (decoding thread writes).
extern std::atomic<uint64_t> g_sync_audio_pts;

// Audio further than this from the last video stamp loses its whole backlog.
inline constexpr uint64_t kAudioDriftLimit = 200000;
// An audio frame's user word holding the low 32 bits of the monotonic microsecond at which it
// joined the decode list (set by DispatchAFrameToList).
inline constexpr int kFrameUserArrivalUs = 2;
// The decoding thread's PCM buffer, and the largest A-law frame that fits it.
inline constexpr uint32_t kAudioPcmBytes = 10 * 1024;
inline constexpr uint32_t kAudioMaxAlawBytes = kAudioPcmBytes / 2;

class CAudioDecoderTask {
public:
    CAudioDecoderTask() = default;
    ~CAudioDecoderTask();

    int Initialize(int hdmi_dev, int hdmi_chn, int sdi_dev, int sdi_chn, int v5, int payload, int bit_width);
    void SetDecodeFlag(int flag) { m_DecodeFlag.store(flag, std::memory_order_relaxed); }
    void InitList(int n);
    int SetFrameListLength(int n);
    // Stream receiver thread: drops the whole backlog when over the limit, then queues a clone
    // stamped with its arrival. The caller keeps and frees its own frame. Always 0.
    int DispatchAFrameToList(frame_buff* frame);
    int RtmpDispatchAFrameToList(frame_buff* frame);

    // Decoding thread: one pass of the loop. Takes a frame (or sleeps 1 ms on an empty list)
    // and plays it, unless it waited in the list longer than the late budget; true when a
    // frame was taken.
    bool DecodeProc();

    int m_HdmiAoDev = 1;
    int m_HdmiAoChn = 0;
    int m_SdiAoDev = 0;
    int m_SdiAoChn = 0;
    int m_Value5 = 0;
    int m_PayloadType = 19;
    int m_BitWidth = 1;
    std::atomic<int> m_ListLimit{100};
    std::atomic<int> m_DecodeFlag{0};
    frame_buff_head* m_pList = nullptr;
    frame_buff_head* m_pRtmpList = nullptr;

private:
    void Play(frame_buff* frame);
    void Reopen();
    int16_t m_pcm[kAudioPcmBytes / 2] = {};
    uint8_t m_alaw[kAudioMaxAlawBytes] = {};
};

extern CAudioDecoderTask* g_pADecoder;

// Decoding thread body; arg is the CAudioDecoderTask. Runs until stop_decode_threads().
void* DecodeAudioStreamEntry(void* arg);
