// The decode tasks' frame lists, shared with the stream receiver and the re-stream service.
#include <cstdlib>
#include <mutex>
#include <new>

#include "board/figures.h"
#include "core/task.h"
#include "decode/audio_decoder.h"
#include "decode/late_policy.h"
#include "decode/video_decoder.h"
#include "media/h264.h"

CMediaDecoder* g_pDecoder = nullptr;
CAudioDecoderTask* g_pADecoder = nullptr;

namespace {

frame_buff_head* new_list() {
    auto* head = static_cast<frame_buff_head*>(calloc(1, sizeof(frame_buff_head)));
    if (head) init_frame_buff_head(head);
    return head;
}

void delete_list(frame_buff_head*& head) {
    if (!head) return;
    frame_queue_flush(head);
    free(head);
    head = nullptr;
}

int list_limit(int n) { return (n >= 100 && n <= 200) ? n : 100; }

// Over the limit the whole backlog goes, then a clone joins; a failed clone is not an error.
int dispatch(frame_buff_head* head, frame_buff* frame, int limit) {
    if (head && frame) frame_fan_out(head, frame, limit);
    return 0;
}

} // namespace

CMediaDecoder::CMediaDecoder() = default;

CMediaDecoder::CMediaDecoder(int vdec, int vo_dev, int vo_chn, int v4, int pdec, int pvo_dev, int pvo_chn, int p4)
    : m_VdecChn(vdec), m_VoDev(vo_dev), m_VoChn(vo_chn), m_Video4(v4), m_PicVdecChn(pdec), m_PicVoDev(pvo_dev),
      m_PicVoChn(pvo_chn), m_Pic4(p4) {}

CMediaDecoder::~CMediaDecoder() {
    delete_list(m_pList);
    delete_list(m_pRtmpList);
    free(m_pJpeg);
}

void CMediaDecoder::InitList(int n) {
    if (!m_pList) m_pList = new_list();
    if (!m_pRtmpList) m_pRtmpList = new_list();
    m_ListLimit.store(list_limit(n), std::memory_order_relaxed);
}

int CMediaDecoder::SetFrameListLength(int n) {
    m_ListLimit.store(list_limit(n), std::memory_order_relaxed);
    return list_limit(n) == n ? 0 : -1;
}

int CMediaDecoder::DispatchFrameToList(frame_buff* frame) {
    if (!m_pList || !frame) return 0;
    const bool idr = hdext::media::frame_is_idr(frame);
    frame->user[kFrameUserFlags] = idr ? kFrameFlagIdr : 0;
    // A backlog is not played out at the picture rate: a fresh IDR picture replaces it.
    if (idr && frame_queue_count(m_pList) > kListSkipDepth) {
        const int dropped = frame_queue_flush(m_pList);
        if (dropped > 0) count_late_drops(static_cast<uint64_t>(dropped));
    }
    return dispatch(m_pList, frame, m_ListLimit.load(std::memory_order_relaxed));
}

int CMediaDecoder::RtmpDispatchFrameToList(frame_buff* frame) {
    return dispatch(m_pRtmpList, frame, m_ListLimit.load(std::memory_order_relaxed));
}

CAudioDecoderTask::~CAudioDecoderTask() {
    delete_list(m_pList);
    delete_list(m_pRtmpList);
}

int CAudioDecoderTask::Initialize(int hdmi_dev, int hdmi_chn, int sdi_dev, int sdi_chn, int v5, int payload,
                                  int bit_width) {
    m_HdmiAoDev = hdmi_dev;
    m_HdmiAoChn = hdmi_chn;
    m_SdiAoDev = sdi_dev;
    m_SdiAoChn = sdi_chn;
    m_Value5 = v5;
    m_PayloadType = payload;
    m_BitWidth = bit_width;
    return 0;
}

void CAudioDecoderTask::InitList(int n) {
    if (!m_pList) m_pList = new_list();
    if (!m_pRtmpList) m_pRtmpList = new_list();
    m_ListLimit.store(list_limit(n), std::memory_order_relaxed);
}

int CAudioDecoderTask::SetFrameListLength(int n) {
    m_ListLimit.store(list_limit(n), std::memory_order_relaxed);
    return list_limit(n) == n ? 0 : -1;
}

int CAudioDecoderTask::DispatchAFrameToList(frame_buff* frame) {
    if (frame) frame->user[kFrameUserArrivalUs] = static_cast<uint32_t>(frame_now_us());
    return dispatch(m_pList, frame, m_ListLimit.load(std::memory_order_relaxed));
}

int CAudioDecoderTask::RtmpDispatchAFrameToList(frame_buff* frame) {
    return dispatch(m_pRtmpList, frame, m_ListLimit.load(std::memory_order_relaxed));
}

void count_late_drops(uint64_t n) {
    static std::mutex lock;
    static uint64_t total = 0;
    std::lock_guard<std::mutex> g(lock); // the sheet keeps the last value written
    total += n;
    hdext::board::set_figure(hdext::board::FigureSheet::display, "late_drops", static_cast<int64_t>(total));
}

int notify_decoding_task(int sender, unsigned msgId, char* data, int len) {
    MSG_INFO msg{static_cast<uint32_t>(sender), kVideoDecodeModule, msgId, static_cast<uint32_t>(len), data};
    return send_msg(&msg);
}
