#include "rtsp/rtsp_frames.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace {

// Staging area for chained video frames, allocated once with the first video source.
unsigned char* g_restream_buffer = nullptr;
std::once_flag g_restream_once;

void allocate_restream_buffer() {
    std::call_once(g_restream_once, [] {
        g_restream_buffer = static_cast<unsigned char*>(malloc(kRtspMaxFrameSize));
    });
}

// Chunks are chained to the first record; a single chunk carries the whole frame.
bool single_segment(frame_buff* f) { return frame_ctl_of(f)->chain == nullptr; }

void now(timeval* t) {
    if (t) gettimeofday(t, nullptr);
}

} // namespace

int Get_Video_Encode_Frame(unsigned char* dst, int maxSize, timeval* time, frame_buff_head* list) {
    (void)time;
    frame_buff* f = frame_dequeue(list);
    if (!f) return 0;
    int result = 0;
    if (f->len == 0 || f->total == 0) {
        printf("$$$ RTSP Video DecodeStreamEntry , FrameBuff is 0 \n");
    } else if (f->total > static_cast<uint32_t>(maxSize)) {
        printf("$$$ RTSP Video  Data overload,total_len=%d,maxsize=%d \n", static_cast<int>(f->total), maxSize);
    } else if (single_segment(f)) {
        uint32_t n = f->len < f->total ? f->len : f->total;
        memcpy(dst, f->data, n);
        result = static_cast<int>(n);
    } else {
        allocate_restream_buffer();
        uint32_t got = g_restream_buffer ? frame_gather(f, g_restream_buffer, static_cast<uint32_t>(maxSize)) : 0;
        if (got == f->total) {
            memcpy(dst, g_restream_buffer, got);
            result = static_cast<int>(got);
        } else {
            printf("$$$ RTSP error .... It's not equal\n");
        }
    }
    free_frame(f);
    return result;
}

int Get_Audio_Encode_Frame(unsigned char* dst, int cap, timeval* time, frame_buff_head* list) {
    (void)time;
    frame_buff* f = frame_dequeue(list);
    if (!f) return 0;
    int result = 0;
    if (f->len == 0 || f->total == 0) {
        printf("$$$ RTSP Audio DecodeProc , FrameBuff is 0 ,error\n");
    } else if (f->pts != 0 || f->aux != 0) {
        // A first segment larger than the room left is cut rather than written past it.
        uint32_t n = f->len < static_cast<uint32_t>(cap) ? f->len : static_cast<uint32_t>(cap);
        memcpy(dst, f->data, n);
        result = static_cast<int>(n);
    }
    free_audio_frame(f);
    return result;
}

H264FramedLiveSource::H264FramedLiveSource(frame_buff_head* list, int maxFrameSize)
    : m_pList(list), m_MaxFrameSize(maxFrameSize) {
    allocate_restream_buffer();
}

int H264FramedLiveSource::doGetNextFrame(unsigned char* to, timeval* presentationTime) {
    int size = Get_Video_Encode_Frame(to, m_MaxFrameSize, presentationTime, m_pList);
    if (size != 0) now(presentationTime);
    if (size >= m_MaxFrameSize)
        printf("read data befor %d %s fMaxSize %d ,fFrameSize %d  \n", 133, "doGetNextFrame", m_MaxFrameSize, size);
    return size;
}

G711AudioStreamSource::G711AudioStreamSource(frame_buff_head* list, int rate) : m_pList(list) {
    if (rate == kRtspRateNoAudio) {
        m_SamplingFrequency = 48000;
        m_PlayTimePerSample = 1e6 / 48000;
        m_PreferredFrameSize = 1400;
        return;
    }
    m_SamplingFrequency = rate;
    m_PlayTimePerSample = 1e6 / rate;
    int per_40ms = static_cast<int>(std::floor(0.04 * rate));
    m_PreferredFrameSize = per_40ms < 700 ? 2 * per_40ms : 1400;
}

int G711AudioStreamSource::doGetNextFrame(unsigned char* to, int maxSize, timeval* presentationTime,
                                          double* durationUs) {
    if (m_LimitNumBytesToStream && m_NumBytesToStream < static_cast<unsigned>(maxSize))
        maxSize = static_cast<int>(m_NumBytesToStream);
    if (maxSize > m_PreferredFrameSize) maxSize = m_PreferredFrameSize;

    int size = Get_Audio_Encode_Frame(to, maxSize, presentationTime, m_pList);
    if (size != 0) {
        m_EmptyPolls = 0;
        m_EmptyPollLimit = 3000;
        now(presentationTime);
    } else if (m_EmptyPolls <= m_EmptyPollLimit) {
        ++m_EmptyPolls;
    } else {
        size = kSilenceBlockBytes < maxSize ? kSilenceBlockBytes : maxSize;
        memset(to, kAlawSilence, static_cast<size_t>(size));
        now(presentationTime);
        m_EmptyPollLimit = 1024;
        m_EmptyPolls = 1;
    }
    if (durationUs) *durationUs = size * m_PlayTimePerSample / (m_BitsPerSample * m_NumChannels / 8.0);
    return size;
}
