// RX video decode: the decoder object, its play-out and re-stream lists, status pictures.
// The stream receiver appends complete frames from its reader thread; the feeding thread and
// the task 0x7000 handler own everything else.
#pragma once
#include <atomic>
#include <cstdint>

#include "core/frame.h"

inline constexpr uint32_t kVideoDecodeModule = 0x7000;
inline constexpr uint32_t kMsgDecodeShowPicture = 0x7001; // 4-byte VDEC_TYPE_E
inline constexpr uint32_t kMsgDecodeRestart = 0x7002;     // new timing from the TX
inline constexpr uint32_t kMsgDecodeStartVideo = 0x7003;  // input back
inline constexpr uint32_t kMsgDecodeSampling = 0x7004;    // audio rate changed

enum VDEC_TYPE_E : int32_t {
    VDEC_TYPE_NONE = 0,
    VDEC_TYPE_SEARCHING = 1,
    VDEC_TYPE_CHECK_HDMI = 2,
    VDEC_TYPE_PAIRING = 3,
    VDEC_TYPE_IS_PAIRING = 4,
    VDEC_TYPE_NO_SIGNAL = 5,
    VDEC_TYPE_LIVE = 6,
};

class CMediaDecoder {
public:
    CMediaDecoder();
    CMediaDecoder(int vdec, int vo_dev, int vo_chn, int v4, int pdec, int pvo_dev, int pvo_chn, int p4);
    ~CMediaDecoder();

    // Creates both lists; the limit is n when 100 <= n <= 200, else 100.
    void InitList(int n);
    // n outside 100-200 sets the limit to 100 and returns -1.
    int SetFrameListLength(int n);
    // Stream receiver thread: drops the whole backlog when over the limit, then queues a clone.
    // The caller keeps and frees its own frame. Always 0.
    int DispatchFrameToList(frame_buff* frame);
    int RtmpDispatchFrameToList(frame_buff* frame);

    int m_VdecChn = 0;
    int m_VoDev = 0;
    int m_VoChn = 0;
    int m_Video4 = 0;
    int m_PicVdecChn = 1;
    int m_PicVoDev = 1;
    int m_PicVoChn = 1;
    int m_Pic4 = 1;
    int m_Width = 0;
    int m_Height = 0;
    int m_PayloadType = 0;
    int m_SendMode = 0;
    frame_buff_head* m_pList = nullptr;
    frame_buff_head* m_pRtmpList = nullptr;
    std::atomic<int> m_ListLimit{100};
    std::atomic<uint8_t> m_PicActive{0};
    std::atomic<uint8_t> m_VideoActive{0};
    std::atomic<int> m_DisplayState{0};
};

extern CMediaDecoder* g_pDecoder;

// Sends msgId from sender to task 0x7000 with a copy of data. Any thread.
int notify_decoding_task(int sender, unsigned msgId, char* data, int len);
