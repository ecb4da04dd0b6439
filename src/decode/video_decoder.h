// RX video decode: the decoder object, its play-out and re-stream lists, status pictures.
// The stream receiver appends complete frames from its reader thread; the feeding thread and
// the task 0x7000 handler own everything else.
#pragma once
#include <atomic>
#include <cstdint>

#include "core/frame.h"
#include "media/media_types.h"

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

// Board path of a status picture ("/home/res/..."), or nullptr for a value without one.
const char* status_picture_path(int type);

// What the RX notes in a video frame's user words on its way to the decode list: the stream
// connection it came on (numbered by the stream reader from 1) and whether it is an IDR
// picture (set by DispatchFrameToList).
inline constexpr int kFrameUserStream = 0;
inline constexpr int kFrameUserFlags = 1;
inline constexpr uint32_t kFrameFlagIdr = 1;
// A decode list holding more pictures than this when an IDR picture arrives is skipped to it.
inline constexpr int kListSkipDepth = 3;

// The largest frame the feeding thread reassembles, and the largest status picture read.
inline constexpr uint32_t kReassemblyBytes = 8388608;
inline constexpr uint32_t kStatusPictureBytes = 0x80000;

class CMediaDecoder {
public:
    CMediaDecoder();
    CMediaDecoder(int vdec, int vo_dev, int vo_chn, int v4, int pdec, int pvo_dev, int pvo_chn, int p4);
    ~CMediaDecoder();

    // Creates both lists; the limit is n when 100 <= n <= 200, else 100.
    void InitList(int n);
    // n outside 100-200 sets the limit to 100 and returns -1.
    int SetFrameListLength(int n);
    // Stream receiver thread: drops the whole backlog when over the limit, or when the frame
    // is an IDR picture and more than kListSkipDepth wait (those count as late drops); then
    // queues a clone. Marks the frame's IDR flag first. The caller keeps and frees its own
    // frame. Always 0.
    int DispatchFrameToList(frame_buff* frame);
    int RtmpDispatchFrameToList(frame_buff* frame);

    // The task 0x7000 thread only (and the start function before the feeding thread runs).
    // Each returns 0, or -1 when it stopped early (message printed).
    int StartVideo();         // live video with the TX's current timing
    int Restart();            // live video re-timed from the TX's new report
    int DecodeJPEG(int type); // a status picture at 1080p60; other values clear the state
    // Feeding thread: one picture to the live decoder channel. Always 0.
    int DecodeStream(int chn, _MEDIA_FRAME_COMM_INFO* info);
    int StartDecoder(int payload, int send_mode);

    // Output GPIOs for the current live timing (62 = 0; 63 = 1 from 1080p50 up).
    void SetOutputGpios();
    // Pipeline switches; the flags follow. Tearing down the picture pipeline returns -1 when
    // the unbind fails; the video pipeline's teardown always goes through.
    int TearDownPicture();
    void TearDownVideo();
    void BringUpPicture();
    void BringUpVideo();

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
    // Messages the task 0x7000 handler has finished (any id), for diagnostics and tests.
    std::atomic<uint32_t> m_MsgsHandled{0};

private:
    uint8_t* m_pJpeg = nullptr; // status picture buffer, allocated on first use
};

extern CMediaDecoder* g_pDecoder;

// Time stamp of the last video frame handed to the decoder (feeding thread writes; the audio
// decoding thread reads it to keep sound near the picture).
extern std::atomic<uint64_t> g_sync_videc_pts;

// Adds n pictures dropped for lateness to the RX's count since start-up and publishes it
// (display figure "late_drops"). Any thread.
void count_late_drops(uint64_t n);

// Sends msgId from sender to task 0x7000 with a copy of data. Any thread.
int notify_decoding_task(int sender, unsigned msgId, char* data, int len);

// Decoder module parameters: pictures from the module's common pool. Start-up; failures are
// printed and returned.
int vdec_set();

// The task 0x7000 message handler (log name "onDecodeHandler").
struct THR_TASK;
struct MQ_LIST;
void onDecodeHandler(THR_TASK* task, MQ_LIST* msg);

// Feeding thread body; arg is the CMediaDecoder. Runs until stop_decode_threads().
void* DecodeVidecStreamEntry(void* arg);
