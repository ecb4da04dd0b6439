#include "encode/video_encoder_task.h"

#include <poll.h>
#include <pthread.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <span>
#include <thread>

#include "board/figures.h"
#include "core/dump_print.h"
#include "encode/encode_threads.h"
#include "media/codec.h"
#include "mpi/mpi.h"
#include "periph/input_state.h"
#include "settings/bitrate.h"

CVideoEncoderTask* g_pTaskVENC = nullptr;
VIDEC_NUMBER videc_number;

namespace {

constexpr int kCaptureIntf = 16;
constexpr int kModVi = 16, kModVenc = 8;
constexpr int kIntfSdi = 1, kIntfHdmi = 3;

uint8_t relaxed(const std::atomic<uint8_t>& v) { return v.load(std::memory_order_relaxed); }

// Waits until fd is readable: 1 readable, 0 time-out, -1 error.
int wait_readable(int fd, std::chrono::milliseconds timeout) {
    if (fd < 0) {
        std::this_thread::sleep_for(timeout);
        return -1;
    }
    pollfd p{fd, POLLIN, 0};
    int r = ::poll(&p, 1, static_cast<int>(timeout.count()));
    if (r > 0 && (p.revents & (POLLERR | POLLNVAL))) return -1;
    return r;
}

} // namespace

CVideoEncoderTask::CVideoEncoderTask(int venc_chn, int sdi_dev, int sdi_chn, int hdmi_dev,
                                     int hdmi_chn)
    : m_sdiDev(sdi_dev), m_sdiChn(sdi_chn), m_hdmiDev(hdmi_dev), m_hdmiChn(hdmi_chn),
      m_vencChn(venc_chn) {
    for (auto& l : m_lists) init_frame_buff_head(&l);
}

CVideoEncoderTask::~CVideoEncoderTask() {
    for (auto& l : m_lists) frame_queue_flush(&l);
}

int CVideoEncoderTask::SetFrameListLength(int n) {
    if (n < 100 || n > 200) {
        m_listLimit.store(hdext::kVideoListLimit, std::memory_order_relaxed);
        return -1;
    }
    m_listLimit.store(n, std::memory_order_relaxed);
    return 0;
}

frame_buff_head* CVideoEncoderTask::GetFrameHead() {
    for (int i = 0; i < 3; ++i) {
        if (relaxed(m_inUse[i])) continue;
        m_notes[i].socket_oldest.store(0, std::memory_order_relaxed);
        m_notes[i].late_drops.store(0, std::memory_order_relaxed);
        m_notes[i].take_kbps.store(0, std::memory_order_relaxed);
        m_inUse[i].store(1, std::memory_order_relaxed);
        std::printf("Video Get frame head : %d\n", i);
        return &m_lists[i];
    }
    return nullptr;
}

void CVideoEncoderTask::ReleaseFrameHead(frame_buff_head* list) {
    for (int i = 0; i < 3; ++i) {
        if (list != &m_lists[i]) continue;
        std::printf("Video Release frame head : %d\n", i);
        m_inUse[i].store(0, std::memory_order_relaxed);
        frame_queue_flush(list);
        return;
    }
}

int CVideoEncoderTask::PutStreamToList(frame_buff* frame) {
    const int limit = GetListLimit();
    frame_stamp_chunks(frame);
    frame_set_taken(frame, frame_now_us());
    for (int i = 0; i < 3; ++i)
        if (relaxed(m_inUse[i])) frame_fan_out(&m_lists[i], frame, limit);
    return 0;
}

void CVideoEncoderTask::CountFrame(uint32_t size) {
    videc_number.total.fetch_add(1, std::memory_order_relaxed);
    const uint32_t bytes = videc_number.bytes.load(std::memory_order_relaxed) + size;
    const uint32_t frames = videc_number.frames.load(std::memory_order_relaxed) + 1;
    if (frames >= static_cast<uint32_t>(hdext::kStatWindow)) {
        m_frameBits.store(static_cast<int>(bytes / hdext::kStatWindow * 8),
                          std::memory_order_relaxed);
        videc_number.bytes.store(0, std::memory_order_relaxed);
        videc_number.frames.store(0, std::memory_order_relaxed);
        return;
    }
    videc_number.bytes.store(bytes, std::memory_order_relaxed);
    videc_number.frames.store(frames, std::memory_order_relaxed);
}

int CVideoEncoderTask::GetStream() {
    int size = 0;
    frame_buff* frame = INTF_VENC_GetStream(m_vencChn, &size);
    if (!frame) return 0;
    PutStreamToList(frame);
    CountFrame(static_cast<uint32_t>(size));
    free_frame(frame);
    return 0;
}

int CVideoEncoderTask::GetEncFd() {
    m_encFd.store(INTF_VENC_GetFd(m_vencChn), std::memory_order_relaxed);
    return m_encFd.load(std::memory_order_relaxed);
}

void CVideoEncoderTask::CloseEncFd() { INTF_VENC_CloseFd(m_vencChn); }

void CVideoEncoderTask::RequestIdr(std::chrono::milliseconds after) {
    if (after.count() <= 0) {
        m_idrNow.store(true, std::memory_order_relaxed);
        return;
    }
    const auto at = std::chrono::steady_clock::now() + after;
    m_idrAt.store(at.time_since_epoch().count(), std::memory_order_relaxed);
}

void CVideoEncoderTask::ServeIdrRequest() {
    using Clock = std::chrono::steady_clock;
    const auto now = Clock::now();
    const int64_t at = m_idrAt.load(std::memory_order_relaxed);
    const bool later_due = at != 0 && now.time_since_epoch().count() >= at;
    if (!m_idrNow.load(std::memory_order_relaxed) && !later_due) return;
    if (m_lastIdr != Clock::time_point{} && now - m_lastIdr < m_idrGap) return; // waits
    auto hold = HoldReadout();
    if (!relaxed(VencEn)) return;
    m_idrNow.store(false, std::memory_order_relaxed);
    if (later_due) {
        int64_t expected = at; // a newer request stays
        m_idrAt.compare_exchange_strong(expected, 0, std::memory_order_relaxed);
    }
    m_lastIdr = now;
    INTF_VENC_RequestIDR(m_vencChn, 1);
}

void CVideoEncoderTask::NoteLink(frame_buff_head* list, uint64_t socket_oldest_us, uint32_t late_drops,
                                 int64_t take_kbps) {
    for (int i = 0; i < 3; ++i) {
        if (list != &m_lists[i]) continue;
        m_notes[i].socket_oldest.store(socket_oldest_us, std::memory_order_relaxed);
        m_notes[i].late_drops.store(late_drops, std::memory_order_relaxed);
        m_notes[i].take_kbps.store(take_kbps, std::memory_order_relaxed);
    }
}

void CVideoEncoderTask::RateRestarted() {
    // A started encoder runs at the configured step (the facade's start takes it).
    m_rateApplied = BitRate.load(std::memory_order_relaxed) * 1024;
}

void CVideoEncoderTask::ServeRate() {
    using hdext::board::FigureSheet;
    const auto now = static_cast<int64_t>(frame_now_us());
    const int ceiling = BitRate.load(std::memory_order_relaxed) * 1024;
    hdext::encode::LinkState links[3];
    size_t n = 0;
    for (int i = 0; i < 3; ++i) {
        if (!relaxed(m_inUse[i])) continue;
        hdext::encode::LinkState& l = links[n++];
        l.id = i;
        for (const uint64_t t : {frame_queue_first_taken(&m_lists[i]),
                                 m_notes[i].socket_oldest.load(std::memory_order_relaxed)})
            if (t) l.wait_us = std::max(l.wait_us, now - static_cast<int64_t>(t));
        l.late_drops = m_notes[i].late_drops.load(std::memory_order_relaxed);
        l.take_kbps = m_notes[i].take_kbps.load(std::memory_order_relaxed);
    }
    const int rate = m_stepper.Step(now, ceiling, std::span(links, n));
    if (rate != m_rateApplied) {
        auto hold = HoldReadout();
        if (!relaxed(VencEn)) return;
        INTF_VENC_SetBitrateKbps(m_vencChn, rate);
        m_rateApplied = rate;
        hdext::board::set_figure(FigureSheet::capture, "bitrate_kbps", rate);
    }
    if (ceiling != m_ceilingShown) {
        m_ceilingShown = ceiling;
        hdext::board::set_figure(FigureSheet::capture, "bitrate_ceiling_kbps", ceiling);
        hdext::board::set_figure(FigureSheet::capture, "bitrate_kbps", m_rateApplied);
    }
}

void CVideoEncoderTask::RunStream(const std::atomic<bool>* stop) {
    auto stopped = [stop] { return stop && stop->load(); };
    int fd = GetEncFd();
    RateRestarted();
    while (!stopped()) {
        if (!relaxed(VencEn)) {
            while (!relaxed(VencEn) && !stopped()) std::this_thread::sleep_for(m_idle);
            fd = GetEncFd(); // the encoder may have been recreated meanwhile
            RateRestarted();
            continue;
        }
        // The rate first: an IDR asked for now is then encoded at it.
        ServeRate();
        ServeIdrRequest();
        if (wait_readable(fd, m_fdWait) <= 0) {
            // The encoder may have been stopped and recreated within one wait, unseen:
            // its descriptor is then another one.
            const int was = fd;
            if ((fd = GetEncFd()) != was) RateRestarted();
            continue;
        }
        const uint64_t before = videc_number.total.load(std::memory_order_relaxed);
        {
            auto hold = HoldReadout();
            if (!relaxed(VencEn)) continue; // stopped: leave its last picture alone
            GetStream();
        }
        if (videc_number.total.load(std::memory_order_relaxed) != before &&
            ++m_taken % hdext::kVencReportEvery == 0)
            DUMP(3, "video encoder: %llu pictures, %d bits per picture\n",
                 static_cast<unsigned long long>(m_taken), GetFrameBits());
    }
}

void* thread_GetStream(void* task) {
    std::printf("###### ###### Video EncodeStream thread PID=%X.\n",
                static_cast<unsigned>(pthread_self()));
    static_cast<CVideoEncoderTask*>(task)->RunStream(&hdext::encode_threads_stop_flag());
    hdext::encode_thread_ended();
    return nullptr;
}

int vi_set() {
    ot_vi_mod_param p{};
    int r = ss_mpi_vi_get_mod_param(&p);
    if (r != 0) {
        std::printf("ss_mpi_vi_get_mod_param failed 0x%x\n", r);
        return r;
    }
    p.low_delay_en = 1;
    r = ss_mpi_vi_set_mod_param(&p);
    if (r != 0) std::printf("ss_mpi_vi_set_mod_param failed 0x%x\n", r);
    return r;
}

int venc_set() {
    ot_venc_mod_param p{};
    int r = ss_mpi_venc_get_mod_param(&p);
    if (r != 0) {
        std::printf("ss_mpi_venc_get_mod_param failed %#x! \n", r);
        return -1;
    }
    p.frame_buf_recycle = 1;
    r = ss_mpi_venc_set_mod_param(&p);
    if (r != 0) {
        std::printf("ss_mpi_venc_set_mod_param failed %#x! \n", r);
        return -1;
    }
    return 0;
}

int Quendor_Start_enVideo_Task(INPUTER_MODE_e mode) {
    CVideoEncoderTask* t = g_pTaskVENC;
    if (!t) return -1;
    auto get = [](const std::atomic<int>& v) { return v.load(std::memory_order_relaxed); };
    int dev = 0, chn = 0;
    if (mode == INPUTER_SDI) {
        INTF_SetResolution(get(VO_SYNC_3471_ATT), kCaptureIntf, get(FrameRate_3471),
                         get(MaxW_3471_ATT), get(MaxH_3471_ATT));
        dev = t->GetSdiDev();
        chn = t->GetSdiChn();
        INTF_VI_Set_Intf_Mode(dev, chn, kIntfSdi, get(SCAN_MODE_3471));
    } else if (mode == INPUTER_HDMI) {
        INTF_SetResolution(get(VO_SYNC_6911_ATT), kCaptureIntf, get(FrameRate_6911),
                         get(MaxW_6911_ATT), get(MaxH_6911_ATT));
        dev = t->GetHdmiDev();
        chn = t->GetHdmiChn();
        INTF_VI_Set_Intf_Mode(dev, chn, kIntfHdmi, get(SCAN_MODE_6911));
    }
    const int venc = t->GetVenchn();
    INTF_VENC_SetBitrate(venc, BitRate.load(std::memory_order_relaxed));
    INTF_VENC_Start(venc);
    VencEn.store(1, std::memory_order_relaxed);
    INTF_VI_Start(dev, chn);
    INTF_SYS_BIND(kModVi, dev, chn, kModVenc, 0, venc);

    pthread_t tid;
    hdext::encode_thread_started();
    int r = pthread_create(&tid, nullptr, thread_GetStream, t);
    if (r != 0) {
        hdext::encode_thread_ended();
        std::printf("pthread_create ret=%d\n", r);
        return -1;
    }
    pthread_detach(tid);
    return 0;
}
