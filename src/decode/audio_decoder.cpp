// Audio decode task: A-law frames decoded in software and played on the HDMI output, then the
// SDI output; the backlog goes when audio drifts from video; outputs re-open on a rate change.
#include "decode/audio_decoder.h"

#include <pthread.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <thread>

#include "decode/decode_control.h"
#include "decode/decode_entry.h"
#include "decode/decode_threads.h"
#include "decode/video_decoder.h"
#include "media/codec.h"
#include "media/g711.h"
#include "mpi/mpi.h"
#include "stream/rx_format.h"

std::atomic<uint64_t> g_sync_audio_pts{0};

namespace {

constexpr int kAudioListLimit = 150;
constexpr int kPayloadAlaw = 19;
constexpr int kBitWidth16 = 1;

void open_output(int dev, int chn, int width, int payload) {
    const int rate = AudioSampling.load(std::memory_order_relaxed);
    INTF_AO_SetAudio(dev, chn, rate, rate, width, payload);
    INTF_AO_Start(dev, chn);
}

} // namespace

bool CAudioDecoderTask::DecodeProc() {
    frame_buff* frame = frame_dequeue(m_pList);
    if (!frame) {
        usleep(1000);
        return false;
    }
    if (frame->len == 0 || frame->total == 0) {
        printf("DecodeProc , FrameBuff is 0 ,error\n");
        free_audio_frame(frame);
        return true;
    }
    if (frame->pts == 0 && frame->aux == 0) {
        free_audio_frame(frame);
        return true;
    }
    // Sound that waited too long in the list is not played late (the list behind it goes the
    // same way, one frame at a time).
    const uint32_t waited =
        static_cast<uint32_t>(frame_now_us()) - frame->user[kFrameUserArrivalUs];
    if (waited > static_cast<uint64_t>(hdext::decode::late_budgets().picture.count())) {
        free_audio_frame(frame);
        return true;
    }
    const uint64_t pts = frame->pts;
    g_sync_audio_pts.store(pts, std::memory_order_relaxed);
    const uint64_t video = g_sync_videc_pts.load(std::memory_order_relaxed);
    if ((pts > video ? pts - video : video - pts) > kAudioDriftLimit) {
        free_audio_frame(frame);
        frame_queue_flush(m_pList);
        return true;
    }
    // The PCM buffer holds 5120 samples; a longer frame would run past it.
    if (frame->total > kAudioMaxAlawBytes) {
        printf("DecodeProc , frame of %u bytes is over %u, dropped\n", frame->total, kAudioMaxAlawBytes);
        free_audio_frame(frame);
        return true;
    }
    Play(frame);
    free_audio_frame(frame);
    if (m_DecodeFlag.load(std::memory_order_relaxed)) Reopen();
    return true;
}

void CAudioDecoderTask::Play(frame_buff* frame) {
    const uint8_t* alaw = frame->rd;
    uint32_t n = frame->total;
    if (frame->len != frame->total) {
        n = frame_gather(frame, m_alaw, frame->total);
        alaw = m_alaw;
    }
    const int bytes = G711ALawDecode(m_pcm, alaw, n);
    ot_audio_frame out{};
    out.bit_width = m_BitWidth;
    out.snd_mode = 0;
    out.virt_addr[0] = reinterpret_cast<uint8_t*>(m_pcm);
    out.time_stamp = frame->pts;
    out.len = static_cast<uint32_t>(bytes);
    int rc = ss_mpi_ao_send_frame(m_HdmiAoDev, m_HdmiAoChn, &out, -1);
    if (rc != 0) {
        printf("hdmi ss_mpi_ao_send_frame(%d, %d), failed with %x!\n", m_HdmiAoDev, m_HdmiAoChn, rc);
        return;
    }
    rc = ss_mpi_ao_send_frame(m_SdiAoDev, m_SdiAoChn, &out, -1);
    if (rc != 0) printf("sdi ss_mpi_ao_send_frame(%d, %d), failed with %x!\n", m_SdiAoDev, m_SdiAoChn, rc);
}

void CAudioDecoderTask::Reopen() {
    INTF_AO_Stop(m_HdmiAoDev, m_HdmiAoChn);
    open_output(m_HdmiAoDev, m_HdmiAoChn, m_BitWidth, m_PayloadType);
    INTF_AO_Stop(m_SdiAoDev, m_SdiAoChn);
    open_output(m_SdiAoDev, m_SdiAoChn, m_BitWidth, m_PayloadType);
    m_DecodeFlag.store(0, std::memory_order_relaxed);
    std::this_thread::sleep_for(hdext::decode::decode_timing().reopen_pause);
}

void* DecodeAudioStreamEntry(void* arg) {
    printf("###### ###### Audio DecodeStream thread PID=%X.\n", static_cast<unsigned>(pthread_self()));
    pthread_setname_np(pthread_self(), "adec_play");
    auto* task = static_cast<CAudioDecoderTask*>(arg);
    task->SetDecodeFlag(0);
    while (!hdext::decode::decode_stopping()) task->DecodeProc();
    hdext::decode::decode_thread_done(hdext::decode::kAudioThread);
    return nullptr;
}

int Quendor_Init_deAudio_Task() {
    delete g_pADecoder; // only a test initialises twice
    g_pADecoder = new CAudioDecoderTask();
    g_pADecoder->InitList(kAudioListLimit);
    return 0;
}

int Quendor_Start_deAudio_Task() {
    CAudioDecoderTask* task = g_pADecoder;
    if (!task) return -1;
    task->Initialize(1, 0, 0, 0, 0, kPayloadAlaw, kBitWidth16);
    INTF_AO_Create(task->m_HdmiAoDev, task->m_HdmiAoChn);
    open_output(task->m_HdmiAoDev, task->m_HdmiAoChn, task->m_BitWidth, task->m_PayloadType);
    INTF_AO_Create(task->m_SdiAoDev, task->m_SdiAoChn);
    open_output(task->m_SdiAoDev, task->m_SdiAoChn, task->m_BitWidth, task->m_PayloadType);
    const int rc = hdext::decode::start_decode_thread(DecodeAudioStreamEntry, task, hdext::decode::kAudioThread);
    if (rc != 0) {
        printf("pthread_create ret=%d\n", rc);
        return -1;
    }
    return 0;
}
