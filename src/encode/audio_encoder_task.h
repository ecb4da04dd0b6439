// The TX audio encode task: captures PCM from the selected input's audio input, encodes it to
// G.711 A-law and fans each frame out to up to three consumer lists; inserts silence when the
// audio sent falls more than 80 ms behind the video encoded.
#pragma once
#include <atomic>
#include <chrono>
#include <cstdint>

#include "core/frame.h"
#include "encode/video_encoder_task.h"
#include "mpi/mpi_types.h"

namespace hdext {
inline constexpr int kAudioListLimit = 150;
inline constexpr int kAudioNoRate = 96001;
inline constexpr int kAudioClockRate = 44100;     // the capture hands on 44.1 kHz samples
inline constexpr double kAudioMaxLag = 0.08;      // seconds
inline constexpr int kSilenceSamples = 512;
inline constexpr std::chrono::milliseconds kAiWait{19};
inline constexpr uint64_t kAencReportEvery = 500; // captured frames between progress lines
// audio_en commands.
inline constexpr int kAudioStart = 0, kAudioRestart = 1, kAudioSdiFromHdmi = 2,
                     kAudioRunning = 3, kAudioStop = 4;
} // namespace hdext

// 1 when length < 1 or every byte is 0.
int CheckAudio(unsigned char* data, int length);

class CAudioEncoderTask {
public:
    CAudioEncoderTask(int sub_type, int sdi_dev, int sdi_chn, int hdmi_dev, int hdmi_chn);
    ~CAudioEncoderTask();

    // The capture loop; returns only when the encode threads are told to end (tests).
    void GetEncStream();
    // One pass of the capture loop (commands, one PCM frame, frame-rate update, pacing).
    // Capture thread only.
    void Pass();
    int DispatchFrame(frame_buff* frame);
    frame_buff_head* GetFrameHead();
    void ReleaseFrameHead(frame_buff_head* list);
    int SetFrameListLength(int n);
    int InitAttr(int payload_type, int bit_width);
    int GetListLimit() const { return m_listLimit.load(std::memory_order_relaxed); }
    // Audio samples sent since the last frame-rate change (capture thread; tests read it).
    uint64_t SamplesSent() const { return m_samples.load(std::memory_order_relaxed); }
    double StoredFrameRate() const { return m_frameRate; }
    void SetAiWait(std::chrono::milliseconds w) { m_aiWait = w; }
    // The HDMI audio-rate re-check run once sound follows silence (get_6911_Audio).
    void SetAudioRecheck(void (*recheck)()) { m_recheck = recheck; }

    int GetSdiDev() const { return m_sdiDev; }
    int GetSdiChn() const { return m_sdiChn; }
    int GetHdmiDev() const { return m_hdmiDev; }
    int GetHdmiChn() const { return m_hdmiChn; }
    int GetVenchn() const { return 0; }

private:
    void SelectInput();
    void HandleCommand();
    void StopCapture();
    void CapturingOn(int dev, int chn);
    bool CaptureOne();
    bool UpdateFrameRate();
    void Pace();
    void SendSilence();

    std::atomic<uint8_t> m_inUse[3] = {};
    frame_buff_head m_lists[3];
    int m_subType;
    int m_sdiDev;
    int m_sdiChn;
    int m_hdmiDev;
    int m_hdmiChn;
    int m_payload = 0;
    int m_bitWidth = 0;
    std::atomic<int> m_listLimit{hdext::kAudioListLimit};

    // Capture loop state.
    bool m_started = false;
    bool m_capturing = true; // cleared by a stop command, set by any start
    int m_capDev = 0;        // the input capturing while m_capturing is set
    int m_capChn = 0;
    int m_dev = 0;
    int m_chn = 0;
    int m_rate = hdext::kAudioNoRate;
    int m_fd = -1;
    double m_frameRate = 0.0;
    std::atomic<uint64_t> m_samples{0};
    uint64_t m_captured = 0; // PCM frames taken, for the progress line
    bool m_silenceSeen = false;
    bool m_silenceBefore = false;
    std::chrono::milliseconds m_aiWait = hdext::kAiWait;
    void (*m_recheck)() = nullptr;
};

extern CAudioEncoderTask* g_pAEncoder;

int Quendor_Init_enAudio_Task();
int Quendor_Start_enAudio_Task(INPUTER_MODE_e mode);
void* AEncTaskEntry(void* task);
