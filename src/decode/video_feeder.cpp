// Feeding thread of the video decode task: frames from the decode list to the live decoder (late
// ones dropped), and the no-signal picture when they stop coming.
#include "decode/video_feeder.h"

#include <pthread.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "core/frame.h"
#include "decode/decode_control.h"
#include "decode/decode_threads.h"
#include "decode/video_decoder.h"

std::atomic<uint64_t> g_sync_videc_pts{0};

namespace {

void send_to_task(unsigned msg, int param) {
    notify_decoding_task(kVideoDecodeModule, msg, reinterpret_cast<char*>(&param), sizeof(param));
}

} // namespace

CVideoFeeder::CVideoFeeder(CMediaDecoder* dec)
    : m_dec(dec), m_buf(new uint8_t[kReassemblyBytes]), m_late(hdext::decode::late_budgets()) {}

CVideoFeeder::~CVideoFeeder() = default;

bool CVideoFeeder::Step() {
    const auto& timing = hdext::decode::decode_timing();
    if (m_restarting) {
        // Frames wait in the list while the handler brings video back; a handler that ends in
        // another state (or takes too long) gives them back to the usual rules.
        if (m_dec->m_DisplayState.load(std::memory_order_relaxed) == VDEC_TYPE_NONE &&
            std::chrono::steady_clock::now() < m_restartUntil) {
            usleep(static_cast<useconds_t>(timing.idle_sleep.count()));
            return false;
        }
        m_restarting = false;
    }
    frame_buff* frame = frame_dequeue(m_dec->m_pList);
    if (!frame) {
        usleep(static_cast<useconds_t>(timing.idle_sleep.count()));
        if (++m_idle >= timing.idle_polls) {
            m_idle = 0;
            int live = VDEC_TYPE_LIVE;
            if (m_dec->m_DisplayState.compare_exchange_strong(live, VDEC_TYPE_NONE, std::memory_order_relaxed))
                send_to_task(kMsgDecodeShowPicture, VDEC_TYPE_NO_SIGNAL);
        }
        return false;
    }
    m_idle = 0;
    const int state = m_dec->m_DisplayState.load(std::memory_order_relaxed);
    if (state == VDEC_TYPE_NO_SIGNAL) {
        // Video is back: the handler restarts it. This frame is kept for it: most often it is
        // the IDR picture a stream resumes with, and nothing could be shown until the next one.
        m_dec->m_DisplayState.store(VDEC_TYPE_NONE, std::memory_order_relaxed);
        send_to_task(kMsgDecodeStartVideo, 1);
        frame_queue_head(m_dec->m_pList, frame);
        m_restarting = true;
        m_restartUntil = std::chrono::steady_clock::now() + timing.restart_wait;
        m_late.need_idr(); // the restarted decoder has no references
        return true;
    }
    if (state == VDEC_TYPE_LIVE && Live(frame)) Feed(frame);
    free_frame(frame);
    return true;
}

bool CVideoFeeder::Live(frame_buff* frame) {
    using hdext::decode::LatePolicy;
    const bool idr = (frame->user[kFrameUserFlags] & kFrameFlagIdr) != 0;
    if (m_late.judge(frame->pts, idr, frame->user[kFrameUserStream]) == LatePolicy::Verdict::feed) return true;
    if (m_late.late_drops() != m_lateCounted) {
        count_late_drops(m_late.late_drops() - m_lateCounted);
        m_lateCounted = m_late.late_drops();
    }
    return false;
}

void CVideoFeeder::Feed(frame_buff* frame) {
    if (frame->len == 0 || frame->total == 0 || frame->total > kReassemblyBytes) {
        printf("DecodeStreamEntry , FrameBuff is 0 \n");
        return;
    }
    g_sync_videc_pts.store(frame->pts, std::memory_order_relaxed);
    _MEDIA_FRAME_COMM_INFO info{frame->rd, frame->total, frame->pts};
    if (frame->len != frame->total) {
        const uint32_t copied = frame_gather(frame, m_buf.get(), kReassemblyBytes);
        if (copied != frame->total) {
            printf("DecodeStreamEntry error .... It's not equal\n");
            return;
        }
        info.data = m_buf.get();
    }
    m_dec->DecodeStream(m_dec->m_VdecChn, &info);
}

void* DecodeVidecStreamEntry(void* arg) {
    printf("###### ###### DecodeVidecStreamEntry thread PID=%X.\n", static_cast<unsigned>(pthread_self()));
    pthread_setname_np(pthread_self(), "vdec_feed");
    {
        CVideoFeeder feeder(static_cast<CMediaDecoder*>(arg));
        while (!hdext::decode::decode_stopping()) feeder.Step();
    }
    hdext::decode::decode_thread_done(hdext::decode::kVideoThread);
    return nullptr;
}
