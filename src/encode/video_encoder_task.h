// The TX video encode task: takes encoded pictures from the encoder channel and fans each out
// to up to three consumer lists (one per connected receiver).
#pragma once
#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>

#include "core/frame.h"
#include "encode/rate_control.h"

enum INPUTER_MODE_e { INPUTER_NONE = 0, INPUTER_SDI = 1, INPUTER_HDMI = 2 };

// Encoder statistics. `total` is also the audio task's video clock (it resets it).
struct VIDEC_NUMBER {
    std::atomic<uint64_t> total{0};  // frames taken
    std::atomic<uint32_t> bytes{0};  // byte sum of the current window
    std::atomic<uint32_t> frames{0}; // frames of the current window
};
extern VIDEC_NUMBER videc_number;

namespace hdext {
inline constexpr int kVideoListLimit = 100;
inline constexpr int kStatWindow = 60;
inline constexpr std::chrono::milliseconds kVencIdleSleep{100};
// Longest single wait on the encoder descriptor. A restart of the encoder closes the
// descriptor being waited on, which then never becomes readable: short waits let the stream
// thread notice the restart within one wait.
inline constexpr std::chrono::milliseconds kVencFdWait{100};
inline constexpr uint64_t kVencReportEvery = 600; // pictures between two progress lines
// At most one IDR picture asked for in this time: receivers joining together share one, and
// one joining just after waits no longer than this for its first picture.
inline constexpr std::chrono::milliseconds kVencIdrGap{250};
// After a new input format, receivers learn it from the heartbeat (once a second) and restart
// their decoders; an IDR this much later reaches them restarted.
inline constexpr std::chrono::milliseconds kVencIdrAfterFormat{1300};
} // namespace hdext

class CVideoEncoderTask {
public:
    CVideoEncoderTask(int venc_chn, int sdi_dev, int sdi_chn, int hdmi_dev, int hdmi_chn);
    ~CVideoEncoderTask();

    // Any thread.
    int SetFrameListLength(int n);
    // Sender's acceptor thread. The list stays owned by the task; null when all are in use.
    frame_buff_head* GetFrameHead();
    // Frees every frame still queued; pointers that are not one of the task's lists are ignored.
    void ReleaseFrameHead(frame_buff_head* list);
    // Stream thread only: clones the picture into each list in use (drop-all over the limit).
    int PutStreamToList(frame_buff* frame);
    // One fetch without waiting: take, fan out, count, free. Stream thread only.
    int GetStream();
    int GetEncFd();
    void CloseEncFd();
    // Statistics step for one picture of `size` bytes. Stream thread only.
    void CountFrame(uint32_t size);
    // Average size in bits of the last complete window of 60 pictures.
    int GetFrameBits() const { return m_frameBits.load(std::memory_order_relaxed); }
    int GetListLimit() const { return m_listLimit.load(std::memory_order_relaxed); }

    // Any thread: a receiver starts streaming (after: 0), or the input format changed (after:
    // kVencIdrAfterFormat). The stream thread asks the encoder for an IDR picture then, so a
    // receiver shows the next picture instead of waiting for the group's; at most one each
    // kVencIdrGap, a request within the gap waits for its end.
    void RequestIdr(std::chrono::milliseconds after = std::chrono::milliseconds{0});

    // A receiver's sending thread, about the receiver its list serves: the taken stamp of the
    // oldest picture its socket has not delivered (0 none), pictures dropped for it since it
    // linked, the video it took lately (kbit/s, 0 unknown). The stream thread steps the bit rate
    // on it. Any thread; lists not the task's are ignored.
    void NoteLink(frame_buff_head* list, uint64_t socket_oldest_us, uint32_t late_drops, int64_t take_kbps);

    // The stream thread's loop; returns only when *stop becomes true (tests), never when null.
    void RunStream(const std::atomic<bool>* stop);
    // Waits used by RunStream (tests shorten them).
    void SetTiming(std::chrono::milliseconds idle, std::chrono::milliseconds fd_wait,
                   std::chrono::milliseconds idr_gap = hdext::kVencIdrGap) {
        m_idle = idle;
        m_fdWait = fd_wait;
        m_idrGap = idr_gap;
    }

    // Held by the stream thread while it reads a picture out of the encoder, and by whoever
    // stops the encoder, so a channel is never torn down under a read-out. Any thread; blocks
    // for at most one picture's copy.
    std::unique_lock<std::mutex> HoldReadout() { return std::unique_lock<std::mutex>(m_readout); }

    int GetSdiDev() const { return m_sdiDev; }
    int GetSdiChn() const { return m_sdiChn; }
    int GetHdmiDev() const { return m_hdmiDev; }
    int GetHdmiChn() const { return m_hdmiChn; }
    int GetVenchn() const { return m_vencChn; }

private:
    void ServeIdrRequest();
    // Steps the encoder's bit rate after how its receivers keep up; publishes it.
    void ServeRate();
    void RateRestarted();

    std::atomic<int> m_encFd{-1};
    std::atomic<int> m_frameBits{0};
    std::atomic<int> m_listLimit{hdext::kVideoListLimit};
    int m_sdiDev;
    int m_sdiChn;
    int m_hdmiDev;
    int m_hdmiChn;
    int m_vencChn;
    frame_buff_head m_lists[3];
    std::atomic<uint8_t> m_inUse[3] = {};
    std::mutex m_readout;
    uint64_t m_taken = 0; // pictures read out by the stream thread, for the progress line
    std::chrono::milliseconds m_idle = hdext::kVencIdleSleep;
    std::chrono::milliseconds m_fdWait = hdext::kVencFdWait;
    std::chrono::milliseconds m_idrGap = hdext::kVencIdrGap;
    std::atomic<bool> m_idrNow{false};
    std::atomic<int64_t> m_idrAt{0}; // steady clock, ns; 0 none
    std::chrono::steady_clock::time_point m_lastIdr{}; // stream thread only
    struct LinkNote {
        std::atomic<uint64_t> socket_oldest{0};
        std::atomic<uint32_t> late_drops{0};
        std::atomic<int64_t> take_kbps{0};
    };
    LinkNote m_notes[3];
    hdext::encode::RateStepper m_stepper; // stream thread only
    int m_rateApplied = 0;                // stream thread only
    int m_ceilingShown = 0;               // stream thread only
};

extern CVideoEncoderTask* g_pTaskVENC;

int Quendor_Init_enVideo_Task();
int Quendor_Start_enVideo_Task(INPUTER_MODE_e mode);
int vi_set();
int venc_set();
void* thread_GetStream(void* task);
